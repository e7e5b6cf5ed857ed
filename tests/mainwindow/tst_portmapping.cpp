// SPDX-License-Identifier: GPL-3.0-or-later
// The port-mapping steps around the lobby connection, with a stand-in tool: a shell script
// written beside the test executable (never beside the client) that records its arguments and
// sleeps a while.
#include "support/childscenario.h"
#include "support/lobbywindow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

namespace
{

constexpr int toolSleepMs = 300;

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

} // namespace

class PortMappingTest : public QObject
{
    Q_OBJECT

  private slots:
    // The stand-in stays in its folder after a run; each run starts without it.
    void init()
    {
        QFile::remove(besideTest(tool));
        QFile::remove(besideTest(record));
    }

    void toolRunsBeforeAndAfterTheConnection()
    {
        QCOMPARE(runScenario("quit").exitCode, 0);
        QVERIFY(!QFile::exists(besideTest(record)));

        QFile script(besideTest(tool));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\necho \"$*\" >> '%1'\nsleep %2\n")
                         .arg(besideTest(record))
                         .arg(toolSleepMs / 1000.0)
                         .toUtf8());
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        script.close();
        QCOMPARE(runScenario("quit").exitCode, 0);
        // The closing tool may outlive the client, so its record may come a little later.
        QTRY_COMPARE_WITH_TIMEOUT(recordedRuns(),
                                  QStringList({"/open 14141 TCP", "/close 14141 TCP"}), 10000);
    }
};

// Logs in against the fake lobby and lets the server close the connection; the program ends in
// the close handling.
static int runQuitScenario(const QString&)
{
    QElapsedTimer clock;
    clock.start();
    LobbyWindow run;
    // The connection waits for the mapping tool to end.
    if (!run.server.expect(clientHello(), 10000) ||
        (QFile::exists(besideTest(tool)) && clock.elapsed() < toolSleepMs))
        return 90;
    run.server.send(serverHello(0));
    if (!run.server.expect(authenticateRequest("player1", "pass word")))
        return 92;
    run.server.send(frameBytes(CloseNotification{CloseNormal}));
    QApplication::exec();
    return 91;
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(PortMappingTest, runQuitScenario)
#include "tst_portmapping.moc"
