// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the lobby server with load from other processes on this machine, over loopback:
// the login round trip, the memory of thousands of held connections, and chat lines delivered
// per second in busy rooms. Prints figures; it is not a test. Run with --help for the knobs.
#include "latencyhistogram.h"
#include "loadworker.h"
#include "locallobbyserver.h"
#include "passwords.h"
#include "processfigures.h"
#include "processmemory.h"
#include "serverconfig.h"
#include "waituntil.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace
{
struct Settings {
    int logins = 200;
    int chatUsers = 1000;
    int rooms = 20;
    int held = 5000;
    bool heldLogIn = false;
    int workers = 4;
    QList<double> rates = {0.5, 1, 2, 3, 4};
    int stepSeconds = 10;
    QString accountCache;
    bool tls = false;
    QString tlsFolder; // the run's CA and server certificate, when tls
    QString tlsCa() const { return tlsFolder.isEmpty() ? QString() : tlsFolder + "/ca.pem"; }
};

void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// A worker process and the lines it has said.
class WorkerProcess
{
  public:
    void start(const LoadWorker::Plan& plan)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] {
            while (process.canReadLine())
                lines.append(process.readLine().trimmed());
        });
        process.start(QCoreApplication::applicationFilePath(),
                      {"--worker", plan.mode, "--port", QString::number(plan.port), "--first",
                       QString::number(plan.first), "--count", QString::number(plan.count),
                       "--rooms", QString::number(plan.rooms), "--tls-ca", plan.tlsCa});
    }

    void send(const QByteArray& line) { process.write(line + '\n'); }

    // The first line that starts with word, once it has come; "" after an error or a timeout.
    QByteArray take(const QByteArray& word, int timeoutMs)
    {
        QByteArray found;
        waitUntil(
            [&] {
                for (qsizetype i = 0; i < lines.size(); ++i) {
                    if (lines[i].startsWith("error")) {
                        print("worker: " + QString::fromUtf8(lines[i]));
                        return true;
                    }
                    if (lines[i].startsWith(word)) {
                        found = lines.takeAt(i);
                        return true;
                    }
                }
                return process.state() == QProcess::NotRunning;
            },
            timeoutMs);
        return found;
    }

    bool finish(int timeoutMs)
    {
        send("quit");
        return waitUntil([this] { return process.state() == QProcess::NotRunning; }, timeoutMs) &&
               process.exitCode() == 0;
    }

  private:
    QProcess process;
    QList<QByteArray> lines;
};

using Workers = std::vector<std::unique_ptr<WorkerProcess>>;

// Starts count users split over the workers; true once every worker is ready.
bool startWorkers(Workers& workers, const QString& mode, quint16 port, int first, int count,
                  const Settings& settings, int timeoutMs)
{
    const int share = count / settings.workers;
    for (int i = 0; i < settings.workers; ++i) {
        auto worker = std::make_unique<WorkerProcess>();
        const int size = i + 1 == settings.workers ? count - share * i : share;
        worker->start({mode, port, first + share * i, size, settings.rooms, settings.tlsCa()});
        workers.push_back(std::move(worker));
    }
    for (auto& worker : workers) {
        if (worker->take("ready", timeoutMs).isEmpty())
            return false;
    }
    return true;
}

QByteArray configText(const Settings& settings)
{
    QByteArray ini = "[lobby]\nmaxUsers=100000\n"
                     "[limits]\nconnectionsPerAddress=100000\nchatLinesPerSecond=1000\n"
                     // The held connections that stay past the hello measure memory: the limits
                     // against idle connections must not cut them off.
                     "connectionsBeforeLogin=100000\nloginTimeoutSeconds=86400\n"
                     // Room for a worker that falls behind for a moment: the figures are the
                     // server's, not the cut-off policy's.
                     "sendQueueBytes=16777216\n"
                     // Every worker logs in from 127.0.0.1: the queue's fairness between
                     // addresses would measure the policy, not the server.
                     "[accounts]\npasswordJobsPerAddress=1000\npasswordJobsWaiting=100000\n"
                     "[rooms]\nsize=" +
                     QByteArray::number(settings.rooms) + "\n";
    for (int i = 1; i <= settings.rooms; ++i)
        ini += QString("%1\\title=bench %1\n%1\\capacity=1000\n%1\\gameId=chat\n").arg(i).toUtf8();
    if (!settings.tlsFolder.isEmpty())
        ini += QString("[tls]\ncertificate=%1/localhost.pem\nkey=%1/localhost.key\n")
                   .arg(settings.tlsFolder)
                   .toUtf8();
    return ini;
}

// Accounts are slow to make (every password is hashed the expensive way), so they are made
// once into a cache folder and copied from there for every run.
bool prepareAccounts(const Settings& settings, const QString& dataFolder)
{
    const int needed =
        qMax(settings.logins, settings.heldLogIn ? settings.held : settings.chatUsers);
    QDir cache(settings.accountCache);
    cache.mkpath(".");
    QFile countFile(cache.filePath("accounts"));
    const int have = countFile.open(QIODevice::ReadOnly) ? countFile.readAll().toInt() : 0;
    countFile.close();
    if (have < needed) {
        LocalLobbyServer creator(SERVER_PROGRAM, cache.path());
        creator.writeConfig(configText(settings));
        QVector<LobbyAccount> accounts;
        for (int i = have + 1; i <= needed; ++i)
            accounts.append(
                {QString("bench%1").arg(i), QString("pw%1").arg(i), QString("ベンチ%1").arg(i)});
        QElapsedTimer clock;
        clock.start();
        QString error;
        if (!creator.createAccounts(accounts, error)) {
            print("accounts not created: " + error);
            return false;
        }
        print(QString("created %1 accounts in %2 s (cached in %3)")
                  .arg(accounts.size())
                  .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
                  .arg(cache.path()));
        countFile.open(QIODevice::WriteOnly | QIODevice::Truncate);
        countFile.write(QByteArray::number(needed));
        countFile.close();
    }
    for (const QString& name : cache.entryList({"tileparlor.db*"}, QDir::Files)) {
        if (!QFile::copy(cache.filePath(name), QDir(dataFolder).filePath(name)))
            return false;
    }
    return true;
}

// CPU seconds the process has used; with thread, those of that thread alone (the main
// thread's id is the process id).
double cpuSeconds(qint64 pid, qint64 thread = 0)
{
    return cpuSecondsFrom(thread ? QString("/proc/%1/task/%2/stat").arg(pid).arg(thread)
                                 : QString("/proc/%1/stat").arg(pid));
}

// What the server's process and its event loop (the main thread: every socket, the lobby, the
// replies) did with the CPU since start(), as shares of one core.
class CpuShare
{
  public:
    explicit CpuShare(qint64 pid) : pid(pid) { start(); }
    void start()
    {
        clock.start();
        process = cpuSeconds(pid);
        loop = cpuSeconds(pid, pid);
    }
    double processPercent() const { return percent(cpuSeconds(pid) - process); }
    double loopPercent() const { return percent(cpuSeconds(pid, pid) - loop); }

  private:
    double percent(double seconds) const { return 100 * seconds / (clock.elapsed() / 1000.0); }
    qint64 pid;
    QElapsedTimer clock;
    double process = 0;
    double loop = 0;
};

// Every held connection is a descriptor in the server and one in a worker: the soft limit
// (often 1,024) and even the hard one can be too low. Raising the hard limit needs
// CAP_SYS_RESOURCE; the server itself needs a few dozen more for its database and listener.
void raiseDescriptorLimit(int connections)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t wanted = rlim_t(connections) + 200;
    if (limit.rlim_cur < wanted) {
        rlimit raised{wanted, qMax(wanted, limit.rlim_max)};
        if (setrlimit(RLIMIT_NOFILE, &raised) != 0) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    print(QString("descriptor limit %1 for the server and each worker%2")
              .arg(qulonglong(limit.rlim_cur))
              .arg(limit.rlim_cur < wanted
                       ? " (too low for this run: the server runs out of descriptors)"
                       : ""));
}

QString memoryText(const ProcessMemory& memory)
{
    return QString("RSS %1 MB (peak %2 MB)")
        .arg(memory.rssKiB / 1024.0, 0, 'f', 1)
        .arg(memory.peakKiB / 1024.0, 0, 'f', 1);
}

// A private CA and a certificate for localhost (127.0.0.1 too) in the run's data folder.
bool makeCertificates(Settings& settings, const QString& dataFolder)
{
    settings.tlsFolder = QDir(dataFolder).filePath("tls");
    for (const QStringList& arguments :
         {QStringList{"ca", settings.tlsFolder, "ca"},
          QStringList{"server", settings.tlsFolder, "ca", "localhost", "localhost"}}) {
        if (QProcess::execute(CERTIFICATE_SCRIPT, arguments) != 0) {
            print("certificates not made by " CERTIFICATE_SCRIPT);
            return false;
        }
    }
    return true;
}

// One password check as the server runs it, timed in this process: the cost that bounds the
// server's logins per second at the number of cores.
double passwordCheckMs()
{
    const StoredPassword stored = hashPassword("pw1", ServerConfig{}.passwordIterations);
    QList<qint64> times;
    for (int i = 0; i < 9; ++i) {
        QElapsedTimer clock;
        clock.start();
        passwordMatches("pw1", stored);
        times.append(clock.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2] / 1e6;
}

bool measureLogins(const Settings& settings, quint16 port)
{
    WorkerProcess worker;
    worker.start({"login", port, 1, settings.logins, settings.rooms, settings.tlsCa()});
    const QList<QByteArray> line = worker.take("logins", settings.logins * 10000).split(' ');
    if (line.size() != 3)
        return false;
    const LatencyHistogram times = LatencyHistogram::decode(line[1]);
    const LatencyHistogram hellos = LatencyHistogram::decode(line[2]);
    print(
        QString("%1 logins one after another over %2: connect to the hello's answer%3 p50 %4 "
                "ms, p99 %5 ms; login round trip (Authenticate to its reply) p50 %6 ms, p99 %7 ms")
            .arg(times.count())
            .arg(settings.tls ? "TLS" : "plain TCP")
            .arg(settings.tls ? " (the TLS handshake included)" : "")
            .arg(hellos.percentileMs(0.5), 0, 'f', 1)
            .arg(hellos.percentileMs(0.99), 0, 'f', 1)
            .arg(times.percentileMs(0.5), 0, 'f', 1)
            .arg(times.percentileMs(0.99), 0, 'f', 1));
    return worker.finish(10000);
}

bool measureHeld(const Settings& settings, LocalLobbyServer& server, qint64 idleRssKiB)
{
    const int extra = settings.held - settings.chatUsers;
    Workers holders;
    QElapsedTimer clock;
    clock.start();
    // Held connections either stop after the hello or, like the chat users, log in and enter
    // the rooms (accounts bench<chat users + 1> and on).
    if (extra > 0 && !startWorkers(holders, settings.heldLogIn ? "chat" : "hold", server.port(),
                                   settings.chatUsers + 1, extra, settings, extra * 2000))
        return false;
    print(QString("held %1 connections (%2 logged in and in rooms, %3 %4), opened in %5 s: "
                  "server %6")
              .arg(settings.held)
              .arg(settings.chatUsers)
              .arg(extra)
              .arg(settings.heldLogIn ? "more logged in and in rooms" : "past the hello")
              .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
              .arg(memoryText(processMemory(server.pid()))));
    print(
        QString("  %1 KiB per connection over the idle server's RSS (%2)")
            .arg(double(processMemory(server.pid()).rssKiB - idleRssKiB) / settings.held, 0, 'f', 1)
            .arg(settings.tls ? "TLS" : "plain TCP"));
    // With nothing said, what the held connections alone cost the server.
    CpuShare idle(server.pid());
    waitUntil([] { return false; }, 5000);
    print(QString("  held and quiet for 5 s: server CPU %1 %, event loop busy %2 % (100 % = one "
                  "core)")
              .arg(idle.processPercent(), 0, 'f', 1)
              .arg(idle.loopPercent(), 0, 'f', 1));
    for (auto& holder : holders) {
        if (!holder->finish(60000))
            return false;
    }
    return true;
}

bool measureChat(const Settings& settings, Workers& chatters, qint64 serverPid)
{
    const int members = settings.chatUsers / settings.rooms;
    print(QString("chat: %1 users in %2 rooms (%3 members each), %4 s per rate; counted: lines "
                  "said and heard after its first second")
              .arg(settings.chatUsers)
              .arg(settings.rooms)
              .arg(members)
              .arg(settings.stepSeconds));
    print("  lines/s/user  lines/s  offered deliveries/s  delivered/s  latency p50  p99    "
          "server CPU  event loop  workers CPU (100 % = one core)");
    for (double rate : settings.rates) {
        const CpuShare server(serverPid);
        QElapsedTimer clock;
        clock.start();
        for (auto& chatter : chatters)
            chatter->send(QString("step %1 %2").arg(rate).arg(settings.stepSeconds).toUtf8());
        qint64 sent = 0;
        qint64 delivered = 0;
        qint64 workerCpuMs = 0;
        double windowMs = 0;
        LatencyHistogram latencies;
        for (auto& chatter : chatters) {
            const QByteArray line = chatter->take("step", settings.stepSeconds * 1000 + 60000);
            if (line.isEmpty())
                return false;
            for (const QByteArray& field : line.split(' ')) {
                const QByteArray value = field.mid(field.indexOf('=') + 1);
                if (field.startsWith("sent="))
                    sent += value.toLongLong();
                else if (field.startsWith("delivered="))
                    delivered += value.toLongLong();
                else if (field.startsWith("cpuMs="))
                    workerCpuMs += value.toLongLong();
                else if (field.startsWith("windowMs="))
                    windowMs = value.toDouble();
                else if (field.startsWith("latency="))
                    latencies.merge(LatencyHistogram::decode(value));
            }
        }
        const double seconds = clock.elapsed() / 1000.0;
        const double linesPerSecond = sent / double(settings.stepSeconds);
        print(QString("  %1  %2  %3  %4  %5 ms  %6 ms  %7 %  %8 %  %9 %")
                  .arg(rate, 12, 'f', 1)
                  .arg(linesPerSecond, 7, 'f', 0)
                  .arg(linesPerSecond * members, 20, 'f', 0)
                  .arg(delivered / (windowMs / 1000.0), 11, 'f', 0)
                  .arg(latencies.percentileMs(0.5), 8, 'f', 1)
                  .arg(latencies.percentileMs(0.99), 6, 'f', 1)
                  .arg(server.processPercent(), 8, 'f', 0)
                  .arg(server.loopPercent(), 8, 'f', 0)
                  .arg(workerCpuMs / 10.0 / seconds, 5, 'f', 0));
    }
    return true;
}

int coordinate(Settings settings)
{
    raiseDescriptorLimit(qMax(settings.held, settings.chatUsers));
    QTemporaryDir dataFolder;
    if (settings.tls && !makeCertificates(settings, dataFolder.path()))
        return 1;
    if (!prepareAccounts(settings, dataFolder.path()))
        return 1;
    LocalLobbyServer server(SERVER_PROGRAM, dataFolder.path());
    QString error;
    if (!server.writeConfig(configText(settings)) || !server.start(error)) {
        print("server not started: " + error);
        return 1;
    }
    const ProcessMemory idle = processMemory(server.pid());
    print(QString("server pid %1 on 127.0.0.1:%2, idle: %3")
              .arg(server.pid())
              .arg(server.port())
              .arg(memoryText(idle)));
    if (settings.logins > 0 && !measureLogins(settings, server.port()))
        return 1;

    Workers chatters;
    QElapsedTimer clock;
    clock.start();
    const double serverCpuBefore = cpuSeconds(server.pid());
    if (!startWorkers(chatters, "chat", server.port(), 1, settings.chatUsers, settings,
                      settings.chatUsers * 2000))
        return 1;
    const double seconds = clock.elapsed() / 1000.0;
    const double serverCpu = cpuSeconds(server.pid()) - serverCpuBefore;
    print(QString("%1 users logged in and entered their rooms in %2 s (%3 workers): server %4")
              .arg(settings.chatUsers)
              .arg(seconds, 0, 'f', 1)
              .arg(settings.workers)
              .arg(memoryText(processMemory(server.pid()))));
    const double checkMs = passwordCheckMs();
    const double limit = QThread::idealThreadCount() * 1000.0 / checkMs;
    const double rate = settings.chatUsers / seconds;
    print(QString("  %1 logins/s; one password check takes %2 ms here, so %3 cores allow %4/s: "
                  "%5 % of that limit; the server used %6 s of CPU meanwhile, %7 s of it "
                  "for the checks")
              .arg(rate, 0, 'f', 1)
              .arg(checkMs, 0, 'f', 1)
              .arg(QThread::idealThreadCount())
              .arg(limit, 0, 'f', 1)
              .arg(100 * rate / limit, 0, 'f', 0)
              .arg(serverCpu, 0, 'f', 1)
              .arg(settings.chatUsers * checkMs / 1000, 0, 'f', 1));
    if (!measureHeld(settings, server, idle.rssKiB) ||
        !measureChat(settings, chatters, server.pid()))
        return 1;
    print("after the chat: server " + memoryText(processMemory(server.pid())));
    for (auto& chatter : chatters)
        chatter->finish(60000);
    const int code = server.stop();
    print(QString("server stopped with exit code %1").arg(code));
    return code == 0 ? 0 : 1;
}

int work(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption mode("worker", "", "mode");
    const QCommandLineOption port("port", "", "port");
    const QCommandLineOption first("first", "", "n");
    const QCommandLineOption count("count", "", "n");
    const QCommandLineOption rooms("rooms", "", "n");
    const QCommandLineOption tlsCa("tls-ca", "", "file");
    parser.addOptions({mode, port, first, count, rooms, tlsCa});
    parser.process(arguments);
    LoadWorker worker({parser.value(mode), quint16(parser.value(port).toUInt()),
                       parser.value(first).toInt(), parser.value(count).toInt(),
                       parser.value(rooms).toInt(), parser.value(tlsCa)});
    QObject::connect(&worker, &LoadWorker::finished, &QCoreApplication::exit);
    worker.start();
    return QCoreApplication::exec();
}

bool parseSettings(const QStringList& arguments, Settings& settings)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Benchmarks tileparlor-server with load workers in other processes, over loopback.");
    parser.addHelpOption();
    const QCommandLineOption logins("logins", "Logins timed one after another (200; 0 skips them).",
                                    "n", "200");
    const QCommandLineOption users("chat-users", "Users chatting (1000).", "n", "1000");
    const QCommandLineOption rooms("rooms", "Rooms they chat in (20).", "n", "20");
    const QCommandLineOption held("held", "Connections held at once, chat users included (5000).",
                                  "n", "5000");
    const QCommandLineOption heldLogIn(
        "held-log-in", "Held connections log in and enter rooms too (needs as many accounts).");
    const QCommandLineOption workers("workers", "Load processes (4).", "n", "4");
    const QCommandLineOption rates("rates",
                                   "Lines per second per user, one step each; \"\" "
                                   "skips the chat.",
                                   "list", "0.5,1,2,3,4");
    const QCommandLineOption seconds("step-seconds", "Length of a step (10).", "n", "10");
    const QCommandLineOption cache(
        "account-cache", "Folder that keeps the created accounts.", "folder",
        QDir(QCoreApplication::applicationDirPath()).filePath("bench-server-accounts"));
    const QCommandLineOption tls("tls", "Every connection over TLS (a CA made for the run).");
    parser.addOptions({logins, users, rooms, held, heldLogIn, workers, rates, seconds, cache, tls});
    parser.process(arguments);
    settings.logins = parser.value(logins).toInt();
    settings.chatUsers = parser.value(users).toInt();
    settings.rooms = parser.value(rooms).toInt();
    settings.held = parser.value(held).toInt();
    settings.heldLogIn = parser.isSet(heldLogIn);
    settings.workers = parser.value(workers).toInt();
    settings.stepSeconds = parser.value(seconds).toInt();
    settings.accountCache = parser.value(cache);
    settings.tls = parser.isSet(tls);
    settings.rates.clear();
    for (const QString& rate : parser.value(rates).split(',', Qt::SkipEmptyParts))
        settings.rates.append(rate.toDouble());
    return settings.logins >= 0 && settings.rooms > 0 && settings.workers > 0 &&
           settings.chatUsers >= settings.rooms && settings.stepSeconds > 1;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().contains("--worker"))
        return work(app.arguments());
    Settings settings;
    if (!parseSettings(app.arguments(), settings)) {
        print("bench_server: bad settings (see --help)");
        return 2;
    }
    return coordinate(settings);
}
