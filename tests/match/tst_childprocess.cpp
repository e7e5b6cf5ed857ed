// SPDX-License-Identifier: GPL-3.0-or-later
// The process runner on POSIX, driven with runnerchild, which reports its argument vector into a
// file it inherits; and the engine's order blocks and the pipes they travel through.

#include "support/descriptors.h"
#include "support/wire.h"

#include "app/globals.h"
#include "match/childprocess.h"
#include "match/childprocess_posix.h"
#include "match/engineorder.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <csignal>

#include <sys/wait.h>

class ChildProcessTest : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase()
    {
        localCodec = QTextCodec::codecForName("UTF-8");
        // A write into a closed pipe must fail rather than end the client. The programs it starts
        // must still end on a broken pipe: runnerchild reports otherwise.
        ignoreBrokenPipeSignal();
        QVERIFY(std::signal(SIGPIPE, SIG_IGN) == SIG_IGN);
        // A folder and a name that an encoding or splitting fault would break.
        QVERIFY(QDir().mkpath(programDir));
        QVERIFY(QFile::copy(QStringLiteral(RUNNERCHILD_PATH), programDir + "/runner child"));
    }
    // Whatever a test started, the runner has reaped.
    void cleanup() { QVERIFY(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD); }

    void commandLineWords_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QStringList>("words");
        // The first word is the program's argv[0], as given; a quote left open runs to the end.
        QTest::newRow("blanks and quotes") << " UPnPCJ.exe\t\"a b\" \"\"  c\"d e\"f \"g  h"
                                           << QStringList{"UPnPCJ.exe", "a b", "", "cd ef", "g  h"};
        // 2n backslashes before a quote halve and the quote groups; 2n+1 leave a literal quote.
        QTest::newRow("backslashes") << R"(a\\"b c" d\\\"e C:\tp\x\\y)"
                                     << QStringList{R"(a\b c)", R"(d\"e)", R"(C:\tp\x\\y)"};
        QTest::newRow("empty line, still an argv[0]") << "" << QStringList{""};
        // 200 bytes; the cut counts bytes, not characters.
        QTest::newRow("cut to 127 bytes") << "cut " + QString(65, QChar(0x3042)) + 'x'
                                          << QStringList{"cut", QString(41, QChar(0x3042))};
        // Reports, then ignores the polite ways to end it: it has to be killed.
        QTest::newRow("lingering") << "linger" << QStringList{"linger"};
        // Its report file is closed on exec: only descriptors left inheritable reach the program.
        QTest::newRow("closed on exec") << "closed" << QStringList();
    }
    // Starts runnerchild with the command line and reads what it writes into the report file.
    void commandLineWords()
    {
        QFETCH(QString, commandLine);
        QFETCH(QStringList, words);
        // Each argument ended by a NUL.
        const QByteArray expected =
            words.isEmpty() ? QByteArray() : (words.join(QChar(0)) + QChar(0)).toUtf8();
        const QString path = temp.filePath(QTest::currentDataTag());
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | (commandLine == "closed" ? O_CLOEXEC : 0), 0600);
        qputenv("RUNNERCHILD_FD", QByteArray::number(fd));
        ChildProcess* process =
            startProcessIn(programDir, QStringLiteral("runner child"), commandLine);
        ::close(fd);
        QVERIFY(process);
        // A program that has ended is seen as such; one that lingers is killed after the timeout.
        const bool linger = commandLine == "linger";
        QTRY_COMPARE_WITH_TIMEOUT(isProcessRunning(process), linger, 10000);
        QTRY_COMPARE(QFileInfo(path).size(), qint64(expected.size()));
        QFile report(path);
        QVERIFY(report.open(QIODevice::ReadOnly));
        QCOMPARE(report.readAll(), expected);
        QElapsedTimer timer;
        timer.start();
        closeProcess(process, 300);
        QVERIFY(timer.elapsed() < 5000 && (timer.elapsed() >= 300) == linger);
    }

    // The join order's byte, then the text at offset 16, the rest zero: the text is cut to leave
    // room for a NUL, never inside a character, and in the system's 8-bit encoding the engine
    // reads (two bytes a kana in Shift-JIS).
    void orderBlock()
    {
        const QString kana(QChar(0x3042));
        const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xAE");
        for (const auto& [codec, address, text] :
             {std::tuple{"UTF-8", QString(256, 'a'), QByteArray(255, 'a')},
              {"UTF-8", "a" + kana.repeated(85), "a" + kana.toUtf8().repeated(84)},
              {"UTF-8", "ab" + emoji.repeated(64), "ab" + emoji.toUtf8().repeated(63)},
              {"Shift_JIS", kana.repeated(130), QByteArray("\x82\xa0").repeated(127)}}) {
            localCodec = QTextCodec::codecForName(codec);
            QCOMPARE(::orderBlock(JoinOrder, address).toHex(), engineBlockHex(JoinOrder, text));
        }
    }

    // The engine inherits its end of each pipe; the client's end stays out of it.
    void onlyTheChildEndIsInherited()
    {
        for (const ChildEnd side : {ChildEnd::Read, ChildEnd::Write}) {
            PipeHandle clientEnd = invalidPipeHandle, childEnd = invalidPipeHandle;
            QVERIFY(createNativePipe(side, &clientEnd, &childEnd));
            QCOMPARE(fcntl(int(clientEnd), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
            QCOMPARE(fcntl(int(childEnd), F_GETFD) & FD_CLOEXEC, 0);
            QCOMPARE(fcntl(int(clientEnd), F_GETPIPE_SZ), int(pipeBufferSize));
            closeNativePipe(clientEnd);
            closeNativePipe(childEnd);
        }
    }

  private:
    QTemporaryDir temp;
    const QString programDir = temp.filePath(QStringLiteral("道具 箱"));
};

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "tst_childprocess.moc"
