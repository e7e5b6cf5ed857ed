// The port-mapping steps around the lobby connection, with a stand-in tool: a shell script
// written beside the test executable (never beside the client) that records its arguments and
// sleeps a while.
#include "support/childscenario.h"
#include "support/lobbywindow.h"
#include "support/modalanswer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

namespace
{

constexpr int toolSleepMs = 300;

// The tool and its record, beside the test executable.
QString besideTest(const char* name)
{
    return QCoreApplication::applicationDirPath() + "/" + name;
}
const char* const tool = "UPnPCJ.exe";
const char* const record = "upnpcj-record.txt";

QStringList recordedRuns()
{
    QFile runs(besideTest(record));
    if (!runs.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(runs.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Logs in against a fake lobby and lets the server close the connection; the program ends in the
// close handling.
int runQuitScenario(quint32 closeReason)
{
    QElapsedTimer clock;
    clock.start();
    LobbyWindow run;
    auto answers = answerEveryModalWindow();
    if (!run.server.expect(clientHello(), 10000))
        return 90;
    // The connection waits for the mapping tool to end.
    if (QFile::exists(besideTest(tool)) && clock.elapsed() < toolSleepMs)
        return 93;
    run.server.send(serverHello(0));
    if (!run.server.expect(authenticateRequest("player1", "pass word")))
        return 92;
    run.server.send(notifyFrame(CloseNotice, Wire().u32(closeReason)));
    QApplication::exec();
    return 91;
}

} // namespace

class PortMappingTest : public QObject
{
    Q_OBJECT

  private slots:
    void init() { cleanup(); }
    void cleanup()
    {
        QFile::remove(besideTest(tool));
        QFile::remove(besideTest(record));
    }

    void toolRunsBeforeAndAfterTheConnection_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<int>("closeReason");
        QTest::newRow("normal quit") << true << 0;
        QTest::newRow("server shutdown") << true << 1;
        QTest::newRow("no tool") << false << 0;
    }

    void toolRunsBeforeAndAfterTheConnection()
    {
        QFETCH(bool, installed);
        QFETCH(int, closeReason);
        if (installed) {
            QFile script(besideTest(tool));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(QString("#!/bin/sh\necho \"$*\" >> '%1'\nsleep %2\n")
                             .arg(besideTest(record))
                             .arg(toolSleepMs / 1000.0)
                             .toUtf8());
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const ScenarioResult result = runScenario(QString("quit%1").arg(closeReason));
        QCOMPARE(result.exitCode, closeReason);
        // The closing tool may outlive the client, so its record may come a little later.
        const QStringList runs = {"/open 14141 TCP", "/close 14141 TCP"};
        QTRY_COMPARE_WITH_TIMEOUT(recordedRuns(), installed ? runs : QStringList(), 10000);
        QCOMPARE(QFile::exists(besideTest(record)), installed);
    }
};

static int runPortMappingScenario(const QString& name)
{
    return runQuitScenario(name.mid(4).toUInt());
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(PortMappingTest, runPortMappingScenario)
#include "tst_portmapping.moc"
