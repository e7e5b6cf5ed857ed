// The process runner on POSIX, driven with runnerchild, which reports its argument vector through
// a pipe it inherits.

#include "support/descriptors.h"

#include "app/globals.h"
#include "app/paths.h"
#include "match/childprocess.h"
#include "match/childprocess_posix.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <cerrno>
#include <future>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>

namespace
{
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
    void closeProcessKillsAfterTimeout();
    void startFailureLeavesNothing_data();
    void startFailureLeavesNothing();
    void brokenPipeFailsTheWrite();

  private:
    ChildProcess* start(const QString& commandLine, bool inheritReportPipe = true);
    QByteArray report();

    QTemporaryDir temp;
    QString programDir;
    int reportFd = -1;
};

void ChildProcessTest::initTestCase()
{
    localCodec = QTextCodec::codecForName("UTF-8");
    // The programs it starts must still end on a broken pipe: commandLineWords sees that they do
    // not inherit this.
    ignoreBrokenPipeSignal();
    // A folder and a name that an encoding or splitting fault would break.
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

ChildProcess* ChildProcessTest::start(const QString& commandLine, bool inheritReportPipe)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return nullptr;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    if (!inheritReportPipe)
        ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    qputenv("RUNNERCHILD_FD", QByteArray::number(fds[1]));
    ChildProcess* process = startProcessIn(programDir, QStringLiteral("runner child"), commandLine);
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
    return data;
}

void ChildProcessTest::joinPath_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("path");
    QTest::newRow("separator added") << "/opt/tp"
                                     << "/opt/tp/UPnPCJ.exe";
    QTest::newRow("slash already there") << "/opt/tp/"
                                         << "/opt/tp/UPnPCJ.exe";
    QTest::newRow("backslash already there") << "C:\\tp\\"
                                             << "C:\\tp\\UPnPCJ.exe";
    QTest::newRow("empty directory") << ""
                                     << "UPnPCJ.exe";
}

void ChildProcessTest::joinPath()
{
    QFETCH(QString, dir);
    QFETCH(QString, path);
    QCOMPARE(::joinPath(dir, "UPnPCJ.exe"), path);
}

void ChildProcessTest::commandLineWords_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<bool>("inherited");
    QTest::addColumn<QStringList>("words");
    const auto row = [](const char* name, const QString& commandLine, const QStringList& words) {
        QTest::newRow(name) << commandLine << true << words;
    };
    // The first word is the program's argv[0], as given.
    row("port tool", "UPnPCJ.exe /open 14141 TCP", {"UPnPCJ.exe", "/open", "14141", "TCP"});
    row("blanks separate", " a \t\tb  ", {"a", "b"});
    row("quotes group", R"("a b" "" c)", {"a b", "", "c"});
    row("quote inside a word", R"(a"b c"d)", {"ab cd"});
    row("2n backslashes, quote groups", R"(a\\"b c")", {R"(a\b c)"});
    row("2n+1 backslashes, literal quote", R"(a\\\"b c)", {R"(a\"b)", "c"});
    row("backslashes before no quote", R"(C:\tp\x a\\b)", {R"(C:\tp\x)", R"(a\\b)"});
    row("unterminated quote", R"(a "b  c)", {"a", "b  c"});
    row("empty line, still an argv[0]", "", {""});
    // 200 bytes; the cut counts bytes, not characters.
    row("cut to 127 bytes", "cut " + QString(65, QChar(0x3042)) + 'x',
        {"cut", QString(41, QChar(0x3042))});
    // Only descriptors left inheritable reach the program.
    QTest::newRow("closed on exec") << "closed" << false << QStringList();
}

void ChildProcessTest::commandLineWords()
{
    QFETCH(QString, commandLine);
    QFETCH(bool, inherited);
    QFETCH(QStringList, words);
    ChildProcess* process = start(commandLine, inherited);
    QVERIFY(process);
    QCOMPARE(report(), reportOf(words));
    // Its end is seen at the first poll after it ended; the runner reaps it then.
    const pid_t pid = childProcessId(process);
    siginfo_t info = {};
    QTRY_VERIFY_WITH_TIMEOUT(
        waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid, 10000);
    QVERIFY(!isProcessRunning(process));
    QVERIFY(isNoLongerOurChild(pid));
    closeProcess(process, 0);
}

void ChildProcessTest::closeProcessKillsAfterTimeout()
{
    ChildProcess* process = start(QStringLiteral("linger"));
    QVERIFY(process);
    const pid_t pid = childProcessId(process);
    // It reports only once it ignores the polite ways to end it.
    QCOMPARE(report(), reportOf({"linger"}));
    QVERIFY(isProcessRunning(process));
    QElapsedTimer timer;
    timer.start();
    std::future<void> closing =
        std::async(std::launch::async, [process] { closeProcess(process, 300); });
    const bool returned = closing.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const qint64 elapsed = timer.elapsed();
    // Frees a hanging closeProcess, so that the failure can be reported.
    if (!returned)
        ::kill(pid, SIGKILL);
    QVERIFY2(returned, "closeProcess did not return");
    QVERIFY2(elapsed >= 300, qPrintable(QString::number(elapsed)));
    QVERIFY(isNoLongerOurChild(pid));
}

void ChildProcessTest::startFailureLeavesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << temp.filePath(QStringLiteral("missing"));
    QTest::newRow("not executable") << temp.filePath(QStringLiteral("not-executable"));
}

// cleanup() checks that no child is left behind.
void ChildProcessTest::startFailureLeavesNothing()
{
    QFETCH(QString, path);
    const int freeFd = lowestFreeFd();
    QVERIFY(!startProcess(path, QStringLiteral("engine --parlor 1 2")));
    QCOMPARE(lowestFreeFd(), freeFd);
}

// With the signal ignored since initTestCase, the write fails instead of ending the client.
void ChildProcessTest::brokenPipeFailsTheWrite()
{
    int fds[2];
    QVERIFY(::pipe(fds) == 0);
    ::close(fds[0]);
    const ssize_t written = ::write(fds[1], "x", 1);
    const int error = errno;
    ::close(fds[1]);
    QCOMPARE(written, ssize_t(-1));
    QCOMPARE(error, EPIPE);
}

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "tst_childprocess.moc"
