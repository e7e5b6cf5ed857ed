// SPDX-License-Identifier: GPL-3.0-or-later
// What chat lines cost the client: a bot speaks into a room the client sits in, at a steady rate,
// and the client's resident memory and CPU time are read from /proc before and after. Every line
// lands in two logs, the room's and the main window's. Prints figures; it is not a test. Loopback
// only. Run it with QT_QPA_PLATFORM=offscreen, or under xvfb-run for the X11 figures.
//
//   bench_chatlog [--rate LINES_PER_S] [--lines N] [--warm-up N]
//
// The client is this program started again: main()'s steps plus a hand that enters the first
// room of the list, since a chat room needs a click.
#include "lobbyclient.h"
#include "clientlobby.h"
#include "processmemory.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace
{
const char* const driverOption = "--drive-client";
constexpr int startTimeoutMs = 30000;

// The bot may speak far faster than a person; the room is the only one.
const QByteArray serverConfig = R"(
[limits]
chatLinesPerSecond=100000
[rooms]
size=1
1\title=ロビー
1\gameId=chat
)";
const LobbyAccount account{"bench", "bench-pass", "ベンチ"};
const LobbyAccount bot{"chatbot", "chatbot-pass", "しゃべる太"};

void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// User and system CPU time of a process so far, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // The fields after the command name, which may itself hold spaces; utime and stime are the
    // 14th and 15th of the line.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

void waitFor(int ms)
{
    QEventLoop idle;
    QTimer::singleShot(ms, &idle, &QEventLoop::quit);
    idle.exec();
}

// Starts the client and waits until it prints the line asked for.
bool startUntil(QProcess& client, const QByteArray& line)
{
    QByteArray said;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(QCoreApplication::applicationFilePath(), {driverOption});
    while (client.waitForReadyRead(startTimeoutMs)) {
        said += client.readAll();
        if (said.contains(line))
            return true;
    }
    std::fprintf(stderr, "the client did not get there:\n%s\n", said.constData());
    return false;
}

// The bot: logs in, enters the room and speaks lines at the given rate, paced by the clock; the
// lines it hears back tell when the server has sent them all.
class Speaker : public QObject
{
  public:
    Speaker(quint16 port, double rate) : intervalNs(qint64(1e9 / rate))
    {
        client.connectToServer("127.0.0.1", port);
        client.authenticate(bot.name, bot.password, [this](const LoginReply& reply) {
            if (reply.result != 0)
                return fail("bot login refused");
            client.listRooms([this](const QVector<RoomInfo>& rooms) {
                if (rooms.isEmpty())
                    return fail("no room");
                roomId = rooms.first().roomId;
                client.enterRoom(roomId, "", [this](quint32 result, auto&) {
                    if (result != 0)
                        return fail("bot entry refused");
                    ready = true;
                });
            });
        });
        connect(&client, &LobbyClient::roomEvent, this, [this](const RoomEventFields& event) {
            if (event.eventKind == EventSpeak && event.roomId == roomId)
                ++heard;
        });
        connect(&client, &LobbyClient::closed, this, [this] { fail(client.closeDetail()); });
        ticker.setTimerType(Qt::PreciseTimer);
        connect(&ticker, &QTimer::timeout, this, &Speaker::tick);
    }

    // Speaks the next count lines and returns once all have come back, or on failure.
    bool speak(int count, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!ready && error.isEmpty() && clock.elapsed() < timeoutMs)
            waitFor(10);
        target = spoken + count;
        pace.start();
        paceStart = spoken;
        ticker.start(1);
        while (heard < target && error.isEmpty() && clock.elapsed() < timeoutMs)
            waitFor(10);
        ticker.stop();
        if (heard < target && error.isEmpty())
            error = "timed out";
        return error.isEmpty();
    }

    QString error;

  private:
    void fail(const QString& why)
    {
        if (error.isEmpty())
            error = why;
    }

    void tick()
    {
        const qint64 due = paceStart + pace.nsecsElapsed() / intervalNs;
        while (spoken < target && spoken < due) {
            // Lines of a usual length that differ from each other, as a room's would.
            const QString line = QString("%1行目です。今日もよろしくお願いします、みなさん")
                                     .arg(spoken)
                                     .left(8 + spoken % 24);
            client.speak(roomId, line);
            ++spoken;
        }
    }

    LobbyClient client;
    QTimer ticker;
    QElapsedTimer pace;
    qint64 intervalNs;
    quint32 roomId = 0;
    bool ready = false;
    int spoken = 0;
    int paceStart = 0;
    int target = 0;
    int heard = 0;
};
} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == driverOption)
        return driveClient(argc, argv, 1);

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption rate("rate", "Lines per second (default 30).", "n", "30");
    const QCommandLineOption lines("lines", "Lines measured (default 3000).", "n", "3000");
    const QCommandLineOption warmUp("warm-up", "Lines before measuring (default 300).", "n", "300");
    parser.addOptions({rate, lines, warmUp});
    parser.process(app);
    const double lineRate = qBound(1.0, parser.value(rate).toDouble(), 10000.0);
    const int lineCount = qMax(100, parser.value(lines).toInt());
    const int warmUpCount = qMax(0, parser.value(warmUp).toInt());
    // Twice the time the lines should take, and a minute besides for the start.
    const int timeoutMs = int((lineCount + warmUpCount) / lineRate * 2000) + 60000;

    ClientLobby lobby;
    if (!lobby.start(serverConfig, {account, bot}))
        return 1;
    LocalLobbyServer& server = lobby.server();
    const QProcessEnvironment environment = lobby.clientEnvironment();
    print("platform: " + environment.value("QT_QPA_PLATFORM", "default (X11 with a display)"));

    QProcess client;
    client.setProcessEnvironment(environment);
    endWithThisProcess(client);
    if (!startUntil(client, "rooms open"))
        return 1;
    const qint64 pid = client.processId();
    Speaker speaker(server.port(), lineRate);
    // The first lines pay for what is made once (fonts, glyph caches); then the client settles.
    if (!speaker.speak(warmUpCount, timeoutMs)) {
        std::fprintf(stderr, "bot: %s\n", qPrintable(speaker.error));
        return 1;
    }
    waitFor(1000);
    const qint64 rssBefore = processMemory(pid).rssKiB;
    const double cpuBefore = cpuSeconds(pid);
    QElapsedTimer wall;
    wall.start();
    if (!speaker.speak(lineCount, timeoutMs)) {
        std::fprintf(stderr, "bot: %s\n", qPrintable(speaker.error));
        return 1;
    }
    // The client's last burst reaches its logs in its next turns of the event loop.
    waitFor(1000);
    const double cpuShare = (cpuSeconds(pid) - cpuBefore) / (double(wall.elapsed()) / 1000);
    const qint64 rssAfter = processMemory(pid).rssKiB;
    print(QString("%1 lines at %2 lines/s after %3 to warm up: RSS %4 -> %5 MB, %6 MB per 1,000 "
                  "lines; client CPU %7 % of one core")
              .arg(lineCount)
              .arg(lineRate)
              .arg(warmUpCount)
              .arg(double(rssBefore) / 1024, 0, 'f', 1)
              .arg(double(rssAfter) / 1024, 0, 'f', 1)
              .arg(double(rssAfter - rssBefore) / 1024 / lineCount * 1000, 0, 'f', 3)
              .arg(cpuShare * 100, 0, 'f', 1));
    client.kill();
    client.waitForFinished();
    return server.stop() == 0 ? 0 : 1;
}
