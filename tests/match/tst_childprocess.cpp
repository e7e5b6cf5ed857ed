// The process runner on POSIX, driven with runnerchild (see runnerchild.cpp), which reports what
// it was started with.

#include "app/globals.h"
#include "app/paths.h"
#include "match/childprocess.h"
#include "match/childprocess_posix.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

const int orderBlockSize = 272;
const int childTimeoutMs = 10000;

// Closes a started program however a test function leaves.
class ProcessGuard
{
  public:
    explicit ProcessGuard(ChildProcess* process) : process_(process) {}
    ProcessGuard(const ProcessGuard&) = delete;
    ProcessGuard& operator=(const ProcessGuard&) = delete;
    ~ProcessGuard()
    {
        if (process_)
            closeProcess(process_, 0);
    }
    ChildProcess* get() const { return process_; }
    ChildProcess* release() { return std::exchange(process_, nullptr); }

  private:
    ChildProcess* process_;
};

class FdGuard
{
  public:
    FdGuard() = default;
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    ~FdGuard() { reset(); }
    int fd = -1;
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

QList<int> descriptors(bool inheritableOnly)
{
    QList<int> result;
    for (int fd = 0; fd < 4096; ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags != -1 && (!inheritableOnly || !(flags & FD_CLOEXEC)))
            result << fd;
    }
    return result;
}

QByteArray joinNumbers(const QList<int>& numbers)
{
    QByteArrayList parts;
    for (int n : numbers)
        parts << QByteArray::number(n);
    return parts.join(',');
}

QByteArray orderBlock(quint32 order)
{
    QByteArray block(orderBlockSize, '\0');
    qToLittleEndian(order, block.data());
    return block;
}

bool writeAll(int fd, const QByteArray& data)
{
    return ::write(fd, data.constData(), data.size()) == data.size();
}

// Reads from fd up to and including the next newline, for at most timeoutMs.
QByteArray readLine(int fd, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QByteArray line;
    while (!line.endsWith('\n')) {
        pollfd waitFor = {fd, POLLIN, 0};
        const int ready = ::poll(&waitFor, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char c;
        if (::read(fd, &c, 1) != 1)
            break;
        line += c;
    }
    return line;
}

// Polls like the client does until the program has ended, for at most timeoutMs.
bool endsWithin(ChildProcess* process, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (isProcessRunning(process)) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

// True once the program has ended, without reaping it.
bool hasEndedUnreaped(pid_t pid)
{
    siginfo_t info = {};
    return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

bool isNoLongerOurChild(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

bool noChildLeft()
{
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList argumentsIn(const QString& path)
{
    QByteArray data = readFile(path);
    if (!data.endsWith('\0'))
        return {QStringLiteral("<no argument list>")};
    data.chop(1);
    QStringList words;
    for (const QByteArray& word : data.split('\0'))
        words << QString::fromUtf8(word);
    return words;
}

} // namespace

class ChildProcessTest : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanup();

    void joinPath_data();
    void joinPath();
    void startProcessInFindsProgram_data();
    void startProcessInFindsProgram();
    void commandLineWords_data();
    void commandLineWords();
    void commandLineCut_data();
    void commandLineCut();
    void engineReceivesInheritedPipes_data();
    void engineReceivesInheritedPipes();
    void runningProgramIsReportedAtOnce();
    void endIsSeenAtFirstPoll();
    void closeProcessWaitsThenKills_data();
    void closeProcessWaitsThenKills();
    void startFailureLeavesNothing_data();
    void startFailureLeavesNothing();
    void brokenPipeDoesNotEndClient();

  private:
    void setMode(const char* mode);

    QTemporaryDir temp;
    QString helper = QStringLiteral(RUNNERCHILD_PATH);
    QString outFile;
    QString oddDir;
    QString oddName = QStringLiteral("runner child");
};

void ChildProcessTest::initTestCase()
{
    localCodec = QTextCodec::codecForName("UTF-8");
    QVERIFY(temp.isValid());
    QVERIFY2(QFileInfo(helper).isExecutable(), qPrintable(helper));
    outFile = temp.filePath(QStringLiteral("child-output"));

    // A copy under a non-ASCII directory and a file name with a blank in it: neither may be taken
    // apart on the way to the operating system.
    oddDir = temp.filePath(QStringLiteral("道具 箱"));
    QVERIFY(QDir().mkpath(oddDir));
    const QString copy = oddDir + QLatin1Char('/') + oddName;
    QVERIFY(QFile::copy(helper, copy));
    QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner));

    // Files that must not start, for startFailureLeavesNothing.
    QFile script(temp.filePath(QStringLiteral("not-executable")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexit 0\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    QFile garbage(temp.filePath(QStringLiteral("not-a-program")));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("\x01\x02\x03 neither a script nor a binary\n");
    garbage.close();
    QVERIFY(garbage.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QDir().mkpath(temp.filePath(QStringLiteral("a-directory"))));
}

void ChildProcessTest::cleanup()
{
    // Whatever a test started must have been reaped by the runner.
    QVERIFY(noChildLeft());
    QFile::remove(outFile);
}

void ChildProcessTest::setMode(const char* mode)
{
    qputenv("RUNNERCHILD_MODE", mode);
    qputenv("RUNNERCHILD_OUT", QFile::encodeName(outFile));
}

void ChildProcessTest::joinPath_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("path");

    QTest::newRow("separator added") << "/opt/tileparlor"
                                     << "UPnPCJ.exe"
                                     << "/opt/tileparlor/UPnPCJ.exe";
    QTest::newRow("slash already there") << "/opt/tileparlor/"
                                         << "UPnPCJ.exe"
                                         << "/opt/tileparlor/UPnPCJ.exe";
    QTest::newRow("backslash already there") << "C:\\Games\\Seikan\\"
                                             << "engine.exe"
                                             << "C:\\Games\\Seikan\\engine.exe";
    QTest::newRow("root directory") << "/"
                                    << "engine.exe"
                                    << "/engine.exe";
    QTest::newRow("empty directory") << ""
                                     << "UPnPCJ.exe"
                                     << "UPnPCJ.exe";
}

void ChildProcessTest::joinPath()
{
    QFETCH(QString, dir);
    QFETCH(QString, fileName);
    QFETCH(QString, path);
    QCOMPARE(::joinPath(dir, fileName), path);
}

void ChildProcessTest::startProcessInFindsProgram_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("workingDir");

    const QFileInfo info(helper);
    QTest::newRow("plain directory") << info.absolutePath() << info.fileName() << QString();
    QTest::newRow("trailing slash") << info.absolutePath() + '/' << info.fileName() << QString();
    QTest::newRow("empty directory, bare name")
        << QString() << info.fileName() << info.absolutePath();
    QTest::newRow("non-ASCII directory, blank in name") << oddDir << oddName << QString();
}

void ChildProcessTest::startProcessInFindsProgram()
{
    QFETCH(QString, dir);
    QFETCH(QString, fileName);
    QFETCH(QString, workingDir);

    const QString previousDir = QDir::currentPath();
    if (!workingDir.isEmpty())
        QVERIFY(QDir::setCurrent(workingDir));
    setMode("argv");
    ProcessGuard process(startProcessIn(dir, fileName, QStringLiteral("UPnPCJ.exe /open")));
    QDir::setCurrent(previousDir);

    QVERIFY(process.get());
    QVERIFY(endsWithin(process.get(), childTimeoutMs));
    QCOMPARE(argumentsIn(outFile), QStringList({"UPnPCJ.exe", "/open"}));
}

void ChildProcessTest::commandLineWords_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QStringList>("words");

    QTest::newRow("port tool") << "UPnPCJ.exe /open 14141 TCP"
                               << QStringList{"UPnPCJ.exe", "/open", "14141", "TCP"};
    QTest::newRow("engine") << "--parlor 7 8" << QStringList{"--parlor", "7", "8"};
    QTest::newRow("runs of blanks") << "  a \t\tb  " << QStringList{"a", "b"};
    QTest::newRow("newline is no blank") << "a\nb c" << QStringList{"a\nb", "c"};
    QTest::newRow("quoted blanks") << R"("a b" c)" << QStringList{"a b", "c"};
    QTest::newRow("quotes inside a word") << R"(a"b c"d)" << QStringList{"ab cd"};
    QTest::newRow("empty quoted word") << R"(a "" b)" << QStringList{"a", "", "b"};
    QTest::newRow("doubled quote inside quotes") << R"("a""b c")" << QStringList{"ab c"};
    QTest::newRow("unterminated quote") << R"(a "b  c)" << QStringList{"a", "b  c"};
    QTest::newRow("backslashes before no quote")
        << R"(C:\Games\engine.exe a\\b c\)"
        << QStringList{R"(C:\Games\engine.exe)", R"(a\\b)", R"(c\)"};
    QTest::newRow("one backslash, literal quote") << R"(a\"b c)" << QStringList{R"(a"b)", "c"};
    QTest::newRow("two backslashes, quote groups") << R"(a\\"b c")" << QStringList{R"(a\b c)"};
    QTest::newRow("three backslashes, literal quote")
        << R"(a\\\"b c)" << QStringList{R"(a\"b)", "c"};
    QTest::newRow("four backslashes, quote closes") << R"("a\\\\" b)" << QStringList{R"(a\\)", "b"};
    QTest::newRow("escaped quotes inside quotes")
        << R"("say \"hi\" now" x)" << QStringList{R"(say "hi" now)", "x"};
    // A program always gets an argv[0], even from an empty command line.
    QTest::newRow("blank line") << "   " << QStringList{""};
    QTest::newRow("empty line") << "" << QStringList{""};
}

void ChildProcessTest::commandLineWords()
{
    QFETCH(QString, commandLine);
    QFETCH(QStringList, words);

    setMode("argv");
    ProcessGuard process(startProcess(helper, commandLine));
    QVERIFY(process.get());
    QVERIFY(endsWithin(process.get(), childTimeoutMs));
    QCOMPARE(argumentsIn(outFile), words);
}

void ChildProcessTest::commandLineCut_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QByteArray>("arrives");

    const QString line127 = "cut " + QString(123, 'x');
    QTest::newRow("127 bytes pass whole") << line127 << line127.toUtf8();
    QTest::newRow("128 bytes") << line127 + 'y' << line127.toUtf8();
    const QString line200 = "cut " + QString(196, 'x');
    QTest::newRow("200 bytes") << line200 << line200.toUtf8().left(127);
    // Bytes count, not characters: the cut may fall inside a character.
    const QString wide = "cut! " + QString(60, QChar(0x3042));
    QTest::newRow("multi-byte characters") << wide << wide.toUtf8().left(127);
}

void ChildProcessTest::commandLineCut()
{
    QFETCH(QString, commandLine);
    QFETCH(QByteArray, arrives);

    setMode("argv");
    ProcessGuard process(startProcess(helper, commandLine));
    QVERIFY(process.get());
    QVERIFY(endsWithin(process.get(), childTimeoutMs));
    QByteArray received = readFile(outFile);
    QVERIFY(received.endsWith('\0'));
    received.chop(1);
    received.replace('\0', ' ');
    QCOMPARE(received.size(), arrives.size());
    QCOMPARE(received, arrives);
}

void ChildProcessTest::engineReceivesInheritedPipes_data()
{
    QTest::addColumn<bool>("sendStopBlock");
    QTest::newRow("stop block") << true;
    QTest::newRow("input closed") << false;
}

void ChildProcessTest::engineReceivesInheritedPipes()
{
    QFETCH(bool, sendStopBlock);

    // The battle's arrangement: the engine's ends are inheritable, the client's are not.
    FdGuard engineIn, clientWrite, clientRead, engineOut;
    int fds[2];
    QVERIFY(::pipe(fds) == 0);
    engineIn.fd = fds[0];
    clientWrite.fd = fds[1];
    QVERIFY(::pipe(fds) == 0);
    clientRead.fd = fds[0];
    engineOut.fd = fds[1];
    QVERIFY(fcntl(clientWrite.fd, F_SETFD, FD_CLOEXEC) == 0);
    QVERIFY(fcntl(clientRead.fd, F_SETFD, FD_CLOEXEC) == 0);
    QVERIFY(writeAll(clientWrite.fd, orderBlock(2)));

    const QList<int> inheritable = descriptors(true);
    QVERIFY(inheritable.contains(engineIn.fd) && inheritable.contains(engineOut.fd));
    QVERIFY(!inheritable.contains(clientWrite.fd) && !inheritable.contains(clientRead.fd));

    setMode("engine");
    ProcessGuard process(
        startProcess(helper, QStringLiteral("--parlor %1 %2").arg(engineIn.fd).arg(engineOut.fd)));
    engineIn.reset();
    engineOut.reset();
    QVERIFY(process.get());

    // The engine read its order through the inherited handle and holds exactly what was
    // inheritable here.
    QCOMPARE(readLine(clientRead.fd, childTimeoutMs),
             "order=2 fds=" + joinNumbers(inheritable) + '\n');

    // Without a copy of our write end in the engine, closing it is an end of input there.
    if (sendStopBlock)
        QVERIFY(writeAll(clientWrite.fd, orderBlock(0)));
    else
        clientWrite.reset();
    QCOMPARE(readLine(clientRead.fd, childTimeoutMs),
             QByteArray(sendStopBlock ? "stop\n" : "eof\n"));

    // An engine that ends on its own is not held for the whole timeout.
    QElapsedTimer timer;
    timer.start();
    closeProcess(process.release(), 5000);
    QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
}

void ChildProcessTest::runningProgramIsReportedAtOnce()
{
    setMode("linger");
    qputenv("RUNNERCHILD_LINGER_MS", "60000");
    ProcessGuard process(startProcess(helper, QStringLiteral("linger")));
    QVERIFY(process.get());
    QTRY_COMPARE_WITH_TIMEOUT(readFile(outFile), QByteArray("ready\n"), childTimeoutMs);

    qint64 slowest = 0;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer timer;
        timer.start();
        QVERIFY(isProcessRunning(process.get()));
        slowest = qMax(slowest, timer.elapsed());
    }
    QVERIFY2(slowest < 50, qPrintable(QString::number(slowest)));
}

void ChildProcessTest::endIsSeenAtFirstPoll()
{
    setMode("argv");
    ProcessGuard process(startProcess(helper, QStringLiteral("quick")));
    QVERIFY(process.get());
    const pid_t pid = childProcessId(process.get());
    QVERIFY(pid > 0);

    QTRY_VERIFY_WITH_TIMEOUT(hasEndedUnreaped(pid), childTimeoutMs);
    QVERIFY(!isProcessRunning(process.get()));
    // That first poll reaped it: no zombie, and the id is given up.
    QVERIFY(isNoLongerOurChild(pid));
    QCOMPARE(childProcessId(process.get()), pid_t(-1));
    QVERIFY(!isProcessRunning(process.get()));

    QElapsedTimer timer;
    timer.start();
    closeProcess(process.release(), 5000);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
}

void ChildProcessTest::closeProcessWaitsThenKills_data()
{
    QTest::addColumn<int>("lingerMs");
    QTest::addColumn<quint32>("timeoutMs");
    QTest::addColumn<bool>("runsToEnd");

    QTest::newRow("ends within the timeout") << 300 << 8000u << true;
    QTest::newRow("ignores the end") << 60000 << 400u << false;
    QTest::newRow("no time given") << 60000 << 0u << false;
}

void ChildProcessTest::closeProcessWaitsThenKills()
{
    QFETCH(int, lingerMs);
    QFETCH(quint32, timeoutMs);
    QFETCH(bool, runsToEnd);

    setMode("linger");
    qputenv("RUNNERCHILD_LINGER_MS", QByteArray::number(lingerMs));
    ProcessGuard process(startProcess(helper, QStringLiteral("linger")));
    QVERIFY(process.get());
    const pid_t pid = childProcessId(process.get());
    // Only once it is ready does it ignore the polite signals.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(outFile), QByteArray("ready\n"), childTimeoutMs);

    QElapsedTimer timer;
    timer.start();
    closeProcess(process.release(), timeoutMs);
    const qint64 elapsed = timer.elapsed();

    QVERIFY(isNoLongerOurChild(pid));
    QVERIFY(::kill(pid, 0) == -1 && errno == ESRCH);
    QCOMPARE(readFile(outFile), QByteArray(runsToEnd ? "ready\ndone\n" : "ready\n"));
    if (runsToEnd) {
        QVERIFY2(elapsed < lingerMs + 2000, qPrintable(QString::number(elapsed)));
    } else {
        QVERIFY2(elapsed >= timeoutMs, qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < timeoutMs + 600, qPrintable(QString::number(elapsed)));
    }
}

void ChildProcessTest::startFailureLeavesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << temp.filePath(QStringLiteral("no-such-program"));
    QTest::newRow("not executable") << temp.filePath(QStringLiteral("not-executable"));
    QTest::newRow("not a program") << temp.filePath(QStringLiteral("not-a-program"));
    QTest::newRow("directory") << temp.filePath(QStringLiteral("a-directory"));
    QTest::newRow("empty path") << QString();
}

void ChildProcessTest::startFailureLeavesNothing()
{
    QFETCH(QString, path);

    const QList<int> openBefore = descriptors(false);
    ProcessGuard process(startProcess(path, QStringLiteral("engine --parlor 1 2")));
    QVERIFY(!process.get());
    QVERIFY(noChildLeft());
    QCOMPARE(descriptors(false), openBefore);
}

void ChildProcessTest::brokenPipeDoesNotEndClient()
{
    ignoreBrokenPipeSignal();
    int fds[2];
    QVERIFY(::pipe(fds) == 0);
    ::close(fds[0]);
    errno = 0;
    const ssize_t written = ::write(fds[1], "x", 1);
    const int error = errno;
    ::close(fds[1]);
    QCOMPARE(written, ssize_t(-1));
    QCOMPARE(error, EPIPE);

    // The programs we start still get the usual behaviour.
    setMode("sigpipe");
    ProcessGuard process(startProcess(helper, QStringLiteral("sigpipe")));
    QVERIFY(process.get());
    QVERIFY(endsWithin(process.get(), childTimeoutMs));
    QCOMPARE(readFile(outFile), QByteArray("default\n"));
}

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "tst_childprocess.moc"
