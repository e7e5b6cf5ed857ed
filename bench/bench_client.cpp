// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of the client against the real lobby server on loopback: the time from process start
// to the room list, and what an idle client costs in memory and wake-ups, with the room list
// alone and with three rooms open. Prints figures; it is not a test. The platform plugin comes
// from the environment: run it under xvfb-run for the X11 figures, with
// QT_QPA_PLATFORM=offscreen for the figures without a display server.
//
//   bench_client [--runs N] [--idle-seconds S]
//
// The start-up and room-list figures come from the built client itself. Three open rooms need a
// hand that enters them, so those come from this program started again as the client: main()'s
// steps and the same code, plus a driver that clicks three rows of the room list.
#include "clientlobby.h"
#include "processmemory.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace
{
const char* const driverOption = "--drive-client";
constexpr int roomsToOpen = 3;
constexpr int startTimeoutMs = 30000;

const QByteArray serverConfig = R"(
[rooms]
size=4
1\title=ロビー
1\gameId=chat
2\title=雑談
2\gameId=chat
3\title=対戦ルーム
3\gameId=0
4\title=練習ルーム
4\gameId=0
)";
const LobbyAccount account{"bench", "bench-pass", "ベンチ"};

void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Context switches of every thread of the process: voluntary ones are its wake-ups.
qint64 voluntarySwitches(qint64 pid)
{
    qint64 total = 0;
    const QDir tasks(QString("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task + "/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return total;
}

void idleFor(int seconds)
{
    QEventLoop idle;
    QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
}

// Lets the process settle, then reports its resident memory and its wake-ups over as long again:
// right after the start its worker threads are still busy.
QString idleFigures(qint64 pid, int seconds)
{
    idleFor(seconds);
    const qint64 rssKiB = processMemory(pid).rssKiB;
    const qint64 before = voluntarySwitches(pid);
    idleFor(seconds);
    const double wakeups = double(voluntarySwitches(pid) - before) / seconds;
    return QString("RSS %1 MB after %2 s, %3 wake-ups/s over the next %2 s")
        .arg(double(rssKiB) / 1024, 0, 'f', 1)
        .arg(seconds)
        .arg(wakeups, 0, 'f', 1);
}

// Starts a client and waits until it says the room list is shown (or, from stdout, the line
// asked for); the time that took, or -1. What it said meanwhile goes to said, if given.
qint64 startUntil(QProcess& client, const QStringList& arguments, const QByteArray& line,
                  QByteArray* saidTo = nullptr)
{
    QByteArray ownSaid;
    QByteArray& said = saidTo ? *saidTo : ownSaid;
    client.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    client.start(arguments.first(), arguments.mid(1));
    while (client.waitForReadyRead(startTimeoutMs)) {
        said += client.readAll();
        if (said.contains(line))
            return clock.elapsed();
    }
    std::fprintf(stderr, "the client did not get there:\n%s\n", said.constData());
    return -1;
}

// The server's part of each login from its log, connection by connection: from the hello to the
// login's end, which is mostly its password check.
QList<qint64> serverLoginTimes(const QByteArray& log)
{
    static const QRegularExpression line(
        R"(^(\S+) connection (\d+) [^:]*: (hello accepted|logged in))",
        QRegularExpression::MultilineOption);
    QHash<QString, QDateTime> hellos;
    QList<qint64> times;
    for (const QRegularExpressionMatch& match : line.globalMatch(QString::fromUtf8(log))) {
        const QDateTime at = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
        if (match.captured(3) == "hello accepted")
            hellos.insert(match.captured(2), at);
        else
            times.append(hellos.value(match.captured(2)).msecsTo(at));
    }
    return times;
}

// The client's steps to the room list, as its log names them, in their order.
const QList<QPair<QString, QString>> startSteps{
    {"window", "[main] window shown"},
    {"port-mapping poll", "[MainWindow] port mapping done"},
    {"connect", "[ProtocolSocket] connected."},
    {"hello", "[ProtocolSocket] Server Hello: PASS"},
    {"login", "[LobbyCore] logged in"},
    {"name", "[LobbyCore] own name read"},
    {"room list", "[MainWindow] room list shown"},
};

// Milliseconds since the process started at which each step's line came, from a log written
// with "%{time process}" in front of every message; -1 for a step not found.
QList<qint64> stepTimes(const QByteArray& said)
{
    QList<qint64> times(startSteps.size(), -1);
    for (const QByteArray& line : said.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        for (qsizetype i = 0; i < startSteps.size(); ++i) {
            if (times[i] < 0 && text.endsWith(startSteps[i].second))
                times[i] = qint64(text.section(' ', 0, 0).toDouble() * 1000);
        }
    }
    return times;
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.value(values.size() / 2);
}

void stopClient(QProcess& client)
{
    client.kill();
    client.waitForFinished();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == driverOption)
        return driveClient(argc, argv, roomsToOpen);

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption runs("runs", "Starts to time (default 10).", "n", "10");
    const QCommandLineOption idle("idle-seconds", "Idle time measured (default 10).", "s", "10");
    parser.addOptions({runs, idle});
    parser.process(app);
    const int runCount = qMax(1, parser.value(runs).toInt());
    const int idleSeconds = qMax(1, parser.value(idle).toInt());

    ClientLobby lobby;
    if (!lobby.start(serverConfig, {account}))
        return 1;
    LocalLobbyServer& server = lobby.server();
    QProcessEnvironment environment = lobby.clientEnvironment();
    environment.insert("QT_MESSAGE_PATTERN", "%{time process} %{message}");
    const QByteArray listShown = "room list shown";
    print("platform: " + environment.value("QT_QPA_PLATFORM", "default (X11 with a display)"));

    QList<qint64> times;
    QList<QList<qint64>> steps(startSteps.size());
    for (int run = 0; run < runCount; ++run) {
        QProcess client;
        client.setProcessEnvironment(environment);
        QByteArray said;
        const qint64 ms = startUntil(client, {CLIENT_PROGRAM}, listShown, &said);
        if (ms < 0)
            return 1;
        times.append(ms);
        const QList<qint64> at = stepTimes(said);
        for (qsizetype i = 0; i < at.size(); ++i)
            steps[i].append(at[i]);
        if (run == runCount - 1)
            print("client idle with the room list: " +
                  idleFigures(client.processId(), idleSeconds));
        stopClient(client);
    }
    QStringList each;
    for (qint64 ms : times)
        each.append(QString::number(ms));
    print(QString("start to room list: median %1 ms over %2 runs (%3)")
              .arg(median(times))
              .arg(runCount)
              .arg(each.join(' ')));
    QStringList phases;
    qint64 before = 0;
    for (qsizetype i = 0; i < startSteps.size(); ++i) {
        const qint64 at = median(steps[i]);
        phases.append(QString("%1 +%2").arg(startSteps[i].first).arg(at - before));
        before = at;
    }
    print("steps, median ms after the one before (the first after the process's start): " +
          phases.join(", "));
    const QList<qint64> logins = serverLoginTimes(server.log());
    QList<qint64> ownParts;
    for (int run = 0; run < runCount && run < logins.size(); ++run)
        ownParts.append(times[run] - logins[run]);
    print(QString("of which the server's login (mostly its password check): median %1 ms; the "
                  "rest, the client's own part: median %2 ms")
              .arg(median(logins))
              .arg(median(ownParts)));

    QProcess driven;
    driven.setProcessEnvironment(environment);
    if (startUntil(driven, {QCoreApplication::applicationFilePath(), driverOption}, "rooms open") <
        0)
        return 1;
    print(QString("client idle with %1 rooms open: ").arg(roomsToOpen) +
          idleFigures(driven.processId(), idleSeconds));
    stopClient(driven);
    return server.stop() == 0 ? 0 : 1;
}
