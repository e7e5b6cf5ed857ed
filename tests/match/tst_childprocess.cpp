// The process runner on POSIX, driven with runnerchild, which reports its argument vector through
// a pipe it inherits; and the engine's order blocks and the pipes they travel through.

#include "support/descriptors.h"

#include "app/globals.h"
#include "app/paths.h"
#include "match/childprocess.h"
#include "match/childprocess_posix.h"
#include "match/engineorder.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <poll.h>
#include <sys/wait.h>

namespace
{
bool noChildLeft(pid_t pid = -1)
{
    return waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
}
} // namespace

class ChildProcessTest : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanup() { QVERIFY(noChildLeft()); } // whatever a test started, the runner has reaped
    void joinPath();
    void commandLineWords_data();
    void commandLineWords();
    void closeProcessKillsAfterTimeout();
    void startFailureLeavesNothing();
    void orderBlock_data();
    void orderBlock();
    void onlyTheChildEndIsInherited();

  private:
    QByteArray runChild(const QString& commandLine, bool inheritReportPipe = true,
                        ChildProcess** running = nullptr);

    QTemporaryDir temp;
    QString programDir;
};

void ChildProcessTest::initTestCase()
{
    localCodec = QTextCodec::codecForName("UTF-8");
    // The programs it starts must still end on a broken pipe: runnerchild reports otherwise.
    ignoreBrokenPipeSignal();
    int fds[2];
    QVERIFY(::pipe(fds) == 0);
    ::close(fds[0]);
    QCOMPARE(::write(fds[1], "x", 1), ssize_t(-1));
    QCOMPARE(errno, EPIPE);
    ::close(fds[1]);
    // A folder and a name that an encoding or splitting fault would break.
    programDir = temp.filePath(QStringLiteral("道具 箱"));
    QVERIFY(QDir().mkpath(programDir));
    QVERIFY(QFile::copy(QStringLiteral(RUNNERCHILD_PATH), programDir + "/runner child"));
}

// Starts runnerchild and returns what it wrote into the report pipe until that closed, waiting at
// most ten seconds. Closes the program, or hands it to running.
QByteArray ChildProcessTest::runChild(const QString& commandLine, bool inheritReportPipe,
                                      ChildProcess** running)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, inheritReportPipe ? 0 : FD_CLOEXEC);
    qputenv("RUNNERCHILD_FD", QByteArray::number(fds[1]));
    ChildProcess* process = startProcessIn(programDir, QStringLiteral("runner child"), commandLine);
    // From here on only the child can hold the write end, so its closing ends the report.
    ::close(fds[1]);
    QByteArray data;
    const QDeadlineTimer deadline(10000);
    pollfd readable = {fds[0], POLLIN, 0};
    char buffer[256];
    ssize_t got;
    while (process && ::poll(&readable, 1, int(deadline.remainingTime())) > 0 &&
           (got = ::read(fds[0], buffer, sizeof buffer)) > 0)
        data.append(buffer, got);
    ::close(fds[0]);
    if (running)
        *running = process;
    else if (process)
        closeProcess(process, 10000);
    return process ? data : "not started";
}

void ChildProcessTest::joinPath()
{
    QCOMPARE(::joinPath("/opt/tp", "UPnPCJ.exe"), "/opt/tp/UPnPCJ.exe");
    QCOMPARE(::joinPath("/opt/tp/", "UPnPCJ.exe"), "/opt/tp/UPnPCJ.exe");
    QCOMPARE(::joinPath("C:\\tp\\", "UPnPCJ.exe"), "C:\\tp\\UPnPCJ.exe");
    QCOMPARE(::joinPath("", "UPnPCJ.exe"), "UPnPCJ.exe");
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
    QByteArray report;
    for (const QString& word : words)
        report += word.toUtf8() + '\0';
    ChildProcess* process = nullptr;
    QCOMPARE(runChild(commandLine, inherited, &process), report);
    // Its end is seen at the first poll after it ended, and the runner reaps it then.
    const pid_t pid = childProcessId(process);
    siginfo_t info = {};
    QTRY_VERIFY_WITH_TIMEOUT(
        waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid, 10000);
    QVERIFY(!isProcessRunning(process));
    QVERIFY(noChildLeft(pid));
    closeProcess(process, 0);
}

void ChildProcessTest::closeProcessKillsAfterTimeout()
{
    ChildProcess* process = nullptr;
    // It reports only once it ignores the polite ways to end it.
    QCOMPARE(runChild(QStringLiteral("linger"), true, &process), QByteArray("linger", 7));
    const pid_t pid = childProcessId(process);
    QVERIFY(isProcessRunning(process));
    QElapsedTimer timer;
    timer.start();
    closeProcess(process, 300);
    QVERIFY2(timer.elapsed() >= 300 && timer.elapsed() < 5000,
             qPrintable(QString::number(timer.elapsed())));
    QVERIFY(noChildLeft(pid));
}

// Neither a program nor a descriptor is left behind.
void ChildProcessTest::startFailureLeavesNothing()
{
    QVERIFY(QFile(temp.filePath("not-executable")).open(QIODevice::WriteOnly));
    for (const char* name : {"missing", "not-executable"}) {
        const int freeFd = lowestFreeFd();
        QVERIFY(!startProcess(temp.filePath(name), QStringLiteral("engine --parlor 1 2")));
        QCOMPARE(lowestFreeFd(), freeFd);
    }
}

void ChildProcessTest::orderBlock_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<int>("order");
    QTest::addColumn<QString>("address");
    // The order's byte, then the text at offset 16; the rest of the block is zero.
    QTest::addColumn<QByteArray>("text");
    const QString kana(QChar(0x3042));
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xAE");
    const auto row = [](const char* name, const char* codec, int order, const QString& address,
                        const QByteArray& text) {
        QTest::newRow(name) << QByteArray(codec) << order << address << text;
    };
    row("stop", "UTF-8", StopOrder, "", "");
    row("host carries no address", "UTF-8", HostOrder, "192.0.2.7", "");
    row("join, 255 bytes fit with the NUL", "UTF-8", JoinOrder, QString(255, 'a'),
        QByteArray(255, 'a'));
    row("join, 256 bytes cut to 255", "UTF-8", JoinOrder, QString(256, 'a'), QByteArray(255, 'a'));
    row("join, 85 kana fit", "UTF-8", JoinOrder, kana.repeated(85), kana.toUtf8().repeated(85));
    row("join, cut before a kana that does not fit whole", "UTF-8", JoinOrder,
        "a" + kana.repeated(85), "a" + kana.toUtf8().repeated(84));
    row("join, cut before a surrogate pair", "UTF-8", JoinOrder, "ab" + emoji.repeated(64),
        "ab" + emoji.toUtf8().repeated(63));
    // The engine reads the system's 8-bit encoding: two bytes a kana in Shift-JIS.
    row("join in Shift-JIS", "Shift_JIS", JoinOrder, kana.repeated(130),
        QByteArray("\x82\xa0").repeated(127));
}

void ChildProcessTest::orderBlock()
{
    QFETCH(QByteArray, codec);
    QFETCH(int, order);
    QFETCH(QString, address);
    QFETCH(QByteArray, text);
    localCodec = QTextCodec::codecForName(codec);
    QVERIFY(localCodec);
    const QByteArray block = (char(order) + QByteArray(15, '\0') + text).leftJustified(272, '\0');
    QCOMPARE(::orderBlock(EngineOrder(order), address).toHex(), block.toHex());
}

// The engine inherits its end of each pipe; the client's end stays out of it.
void ChildProcessTest::onlyTheChildEndIsInherited()
{
    for (const ChildEnd side : {ChildEnd::Read, ChildEnd::Write}) {
        PipeHandle clientEnd = invalidPipeHandle;
        PipeHandle childEnd = invalidPipeHandle;
        QVERIFY(createNativePipe(side, &clientEnd, &childEnd));
        QCOMPARE(fcntl(int(clientEnd), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
        QCOMPARE(fcntl(int(childEnd), F_GETFD) & FD_CLOEXEC, 0);
        QCOMPARE(fcntl(int(clientEnd), F_GETPIPE_SZ), int(pipeBufferSize));
        closeNativePipe(clientEnd);
        closeNativePipe(childEnd);
    }
}

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "tst_childprocess.moc"
