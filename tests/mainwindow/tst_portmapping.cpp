// The port-mapping steps around the lobby connection, with a stand-in tool: a shell script
// written beside the test executable (never beside the client) that records its arguments and
// sleeps as long as it is told.
#include "app/globals.h"
#include "mainwindow/mainwindow.h"
#include "lobbywire.h"
#include "support/childscenario.h"
#include "support/fakelobbyserver.h"
#include "support/modalanswer.h"
#include "support/testenvironment.h"
#include "support/wire.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <memory>

namespace
{

QString toolPath()
{
    return QCoreApplication::applicationDirPath() + "/UPnPCJ.exe";
}

QString recordPath()
{
    return QCoreApplication::applicationDirPath() + "/upnpcj-record.txt";
}

void installTool(int sleepMs)
{
    QFile tool(toolPath());
    tool.open(QIODevice::WriteOnly | QIODevice::Truncate);
    tool.write(QString("#!/bin/sh\necho \"$*\" >> '%1'\nsleep %2\n")
                   .arg(recordPath())
                   .arg(sleepMs / 1000.0)
                   .toUtf8());
    tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void removeTool()
{
    QFile::remove(toolPath());
    QFile::remove(recordPath());
}

QStringList recordedRuns()
{
    QFile record(recordPath());
    if (!record.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(record.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Logs in against a fake lobby and quits; the program ends in the close handling.
int runQuitScenario(quint32 closeReason)
{
    TestEnvironment env;
    userSettings->setValue("account/id", "a");
    userSettings->setValue("account/password", "b");
    auto answers = answerEveryModalWindow();
    FakeLobbyServer server;
    server.exportAddress();
    MainWindow window;
    mainWindow = &window;
    if (!server.expect(clientHello(), 10000))
        return 90;
    server.send(serverHello(0));
    if (!server.expect(frame(Wire().u32(Authenticate).str("a").str("b"))))
        return 92;
    server.send(notifyFrame(CloseNotice, Wire().u32(closeReason)));
    QApplication::exec();
    return 91;
}

} // namespace

class PortMappingTest : public QObject
{
    Q_OBJECT

  private slots:
    void init() { removeTool(); }
    void cleanup() { removeTool(); }
    void toolDelaysTheConnection();
    void withoutToolConnectsAtOnce();
    void closingToolRunsOnceAtEveryEnd_data();
    void closingToolRunsOnceAtEveryEnd();
    void noClosingRunWithoutTool();
};

void PortMappingTest::toolDelaysTheConnection()
{
    TestEnvironment env;
    installTool(300);
    FakeLobbyServer server;
    server.exportAddress();
    QElapsedTimer clock;
    clock.start();
    MainWindow window;
    window.show();
    QVERIFY(server.expect(clientHello(), 10000));
    const qint64 waited = clock.elapsed();
    QVERIFY2(waited >= 300, qPrintable(QString::number(waited)));
    QCOMPARE(recordedRuns(), QStringList({"/open 14141 TCP"}));
    QVERIFY(!window.isEnabled());
}

void PortMappingTest::withoutToolConnectsAtOnce()
{
    TestEnvironment env;
    FakeLobbyServer server;
    server.exportAddress();
    MainWindow window;
    // Nothing is polled: the connection starts from the first turn of the event loop.
    QVERIFY(server.expect(clientHello(), 10000));
    QVERIFY(recordedRuns().isEmpty());
}

void PortMappingTest::closingToolRunsOnceAtEveryEnd_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("normal quit") << "quit0" << 0;
    QTest::newRow("server shutdown") << "quit1" << 1;
}

void PortMappingTest::closingToolRunsOnceAtEveryEnd()
{
    QFETCH(QString, scenario);
    QFETCH(int, exitCode);
    installTool(0);
    const ScenarioResult result = runScenario(scenario);
    QCOMPARE(result.exitCode, exitCode);
    // The closing tool outlives the client, so its record may come a little later.
    QTRY_COMPARE_WITH_TIMEOUT(recordedRuns(), QStringList({"/open 14141 TCP", "/close 14141 TCP"}),
                              10000);
}

void PortMappingTest::noClosingRunWithoutTool()
{
    const ScenarioResult result = runScenario("quit0");
    QCOMPARE(result.exitCode, 0);
    QVERIFY(!QFile::exists(recordPath()));
}

static int runPortMappingScenario(const QString& name)
{
    return runQuitScenario(name.mid(4).toUInt());
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(PortMappingTest, runPortMappingScenario)
#include "tst_portmapping.moc"
