// The process runner on POSIX, driven with runnerchild, which reports its argument vector through
// a pipe it inherits.

#include "support/descriptors.h"

#include "app/globals.h"
#include "app/paths.h"
#include "match/childprocess.h"
#include "match/childprocess_posix.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <cerrno>
#include <chrono>
#include <future>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// Closes a started program however a test function leaves.
struct CloseAtOnce {
    void operator()(ChildProcess* process) const { closeProcess(process, 0); }
};
using Process = std::unique_ptr<ChildProcess, CloseAtOnce>;

bool isNoLongerOurChild(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

QByteArray reportOf(const QStringList& words)
{
    QByteArray report;
    for (const QString& word : words)
        report += word.toUtf8() + '\0';
    return report;
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
    void commandLineWords_data();
    void commandLineWords();
    void onlyInheritableDescriptorsReachChild();
    void endIsSeenAtFirstPoll();
    void closeProcessKillsAfterTimeout();
    void startFailureLeavesNothing_data();
    void startFailureLeavesNothing();
    void brokenPipeDoesNotEndClient();

  private:
    Process start(const QString& commandLine, bool inheritReportPipe = true);
    QByteArray report();

    QTemporaryDir temp;
    QString programDir;
    int reportFd = -1;
};

void ChildProcessTest::initTestCase()
{
    localCodec = QTextCodec::codecForName("UTF-8");
    QVERIFY(temp.isValid());
    // Every start goes through a folder and a name that an encoding or splitting fault would break.
    programDir = temp.filePath(QStringLiteral("道具 箱"));
    QVERIFY(QDir().mkpath(programDir));
    QVERIFY(QFile::copy(QStringLiteral(RUNNERCHILD_PATH), programDir + "/runner child"));
    QVERIFY(QFile(temp.filePath(QStringLiteral("not-executable"))).open(QIODevice::WriteOnly));
}

void ChildProcessTest::cleanup()
{
    if (reportFd >= 0)
        ::close(reportFd);
    reportFd = -1;
    // Whatever a test started, the runner has reaped.
    QVERIFY(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
}

Process ChildProcessTest::start(const QString& commandLine, bool inheritReportPipe)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return nullptr;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    if (!inheritReportPipe)
        ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    qputenv("RUNNERCHILD_FD", QByteArray::number(fds[1]));
    Process process(startProcessIn(programDir, QStringLiteral("runner child"), commandLine));
    // From here on only the child can hold the write end, so its closing ends the report.
    ::close(fds[1]);
    reportFd = fds[0];
    return process;
}

// Everything written into the report pipe until it closed, waiting at most ten seconds.
QByteArray ChildProcessTest::report()
{
    QByteArray data;
    const QDeadlineTimer deadline(10000);
    pollfd readable = {reportFd, POLLIN, 0};
    char buffer[256];
    ssize_t got;
    while (::poll(&readable, 1, int(deadline.remainingTime())) > 0 &&
           (got = ::read(reportFd, buffer, sizeof buffer)) > 0)
        data.append(buffer, got);
    ::close(reportFd);
    reportFd = -1;
    return data;
}

void ChildProcessTest::joinPath_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("path");

    QTest::newRow("separator added") << "/opt/tp"
                                     << "UPnPCJ.exe"
                                     << "/opt/tp/UPnPCJ.exe";
    QTest::newRow("slash already there") << "/opt/tp/"
                                         << "UPnPCJ.exe"
                                         << "/opt/tp/UPnPCJ.exe";
    QTest::newRow("backslash already there") << "C:\\tp\\"
                                             << "UPnPCJ.exe"
                                             << "C:\\tp\\UPnPCJ.exe";
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

void ChildProcessTest::commandLineWords_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QStringList>("words");

    // The first word is the program's argv[0], as given.
    QTest::newRow("port tool") << "UPnPCJ.exe /open 14141 TCP"
                               << QStringList{"UPnPCJ.exe", "/open", "14141", "TCP"};
    QTest::newRow("engine") << "--parlor 7 8" << QStringList{"--parlor", "7", "8"};
    QTest::newRow("blanks separate") << " a \t\tb  " << QStringList{"a", "b"};
    QTest::newRow("quotes group") << R"("a b" "" c)" << QStringList{"a b", "", "c"};
    QTest::newRow("quote inside a word") << R"(a"b c"d)" << QStringList{"ab cd"};
    QTest::newRow("2n backslashes, quote groups") << R"(a\\"b c")" << QStringList{R"(a\b c)"};
    QTest::newRow("2n+1 backslashes, literal quote")
        << R"(a\\\"b c)" << QStringList{R"(a\"b)", "c"};
    QTest::newRow("backslashes before no quote")
        << R"(C:\tp\x a\\b)" << QStringList{R"(C:\tp\x)", R"(a\\b)"};
    QTest::newRow("unterminated quote") << R"(a "b  c)" << QStringList{"a", "b  c"};
    QTest::newRow("empty line, still an argv[0]") << "" << QStringList{""};
    // 200 bytes; the cut counts bytes, not characters.
    QTest::newRow("cut to 127 bytes") << "cut " + QString(65, QChar(0x3042)) + 'x'
                                      << QStringList{"cut", QString(41, QChar(0x3042))};
}

void ChildProcessTest::commandLineWords()
{
    QFETCH(QString, commandLine);
    QFETCH(QStringList, words);

    const Process process = start(commandLine);
    QVERIFY(process);
    QCOMPARE(report(), reportOf(words));
}

void ChildProcessTest::onlyInheritableDescriptorsReachChild()
{
    const Process inheriting = start(QStringLiteral("inherited"));
    QVERIFY(inheriting);
    QCOMPARE(report(), reportOf({"inherited"}));

    const Process notInheriting = start(QStringLiteral("closed on exec"), false);
    QVERIFY(notInheriting);
    QCOMPARE(report(), QByteArray());
}

void ChildProcessTest::endIsSeenAtFirstPoll()
{
    const Process process = start(QStringLiteral("quick"));
    QVERIFY(process);
    const pid_t pid = childProcessId(process.get());
    QVERIFY(pid > 0);

    // WNOWAIT leaves the ended program for the runner to reap.
    siginfo_t info = {};
    QTRY_VERIFY_WITH_TIMEOUT(
        waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid, 10000);
    QVERIFY(!isProcessRunning(process.get()));
    QVERIFY(isNoLongerOurChild(pid));
}

void ChildProcessTest::closeProcessKillsAfterTimeout()
{
    Process process = start(QStringLiteral("linger"));
    QVERIFY(process);
    const pid_t pid = childProcessId(process.get());
    // It reports only once it ignores the polite ways to end it.
    QCOMPARE(report(), reportOf({"linger"}));
    QVERIFY(isProcessRunning(process.get()));

    const qint64 timeoutMs = 300;
    QElapsedTimer timer;
    timer.start();
    std::future<void> closing = std::async(std::launch::async, [&process, timeoutMs] {
        closeProcess(process.release(), quint32(timeoutMs));
    });
    const bool returned = closing.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const qint64 elapsed = timer.elapsed();
    // Frees a hanging closeProcess, so that the failure can be reported.
    if (!returned)
        ::kill(pid, SIGKILL);
    QVERIFY2(returned, "closeProcess did not return");
    QVERIFY2(elapsed >= timeoutMs, qPrintable(QString::number(elapsed)));
    QVERIFY(isNoLongerOurChild(pid));
}

void ChildProcessTest::startFailureLeavesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << temp.filePath(QStringLiteral("missing"));
    QTest::newRow("not executable") << temp.filePath(QStringLiteral("not-executable"));
}

void ChildProcessTest::startFailureLeavesNothing()
{
    QFETCH(QString, path);

    // cleanup() checks that no child is left behind.
    const int freeFd = lowestFreeFd();
    QVERIFY(!Process(startProcess(path, QStringLiteral("engine --parlor 1 2"))));
    QCOMPARE(lowestFreeFd(), freeFd);
}

void ChildProcessTest::brokenPipeDoesNotEndClient()
{
    ignoreBrokenPipeSignal();
    int fds[2];
    QVERIFY(::pipe(fds) == 0);
    ::close(fds[0]);
    const ssize_t written = ::write(fds[1], "x", 1);
    const int error = errno;
    ::close(fds[1]);
    QCOMPARE(written, ssize_t(-1));
    QCOMPARE(error, EPIPE);

    // The programs we start still end on a broken pipe as usual.
    const Process process = start(QStringLiteral("started"));
    QVERIFY(process);
    QCOMPARE(report(), reportOf({"started"}));
}

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "tst_childprocess.moc"
