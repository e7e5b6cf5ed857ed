// SPDX-License-Identifier: GPL-3.0-or-later
// The port-mapping tool against a stand-in Internet gateway on 127.0.0.1. The tool is always given
// UPNPCJ_GATEWAY_URL, so it never looks for the real router.

#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using Run = std::tuple<QString, int, QByteArrayList>;

class UpnpToolTest : public QObject
{
    Q_OBJECT

  private slots:

    void commandLine_data()
    {
        // The arguments, the gateway's fault code, and the elements of the one action the tool
        // sends (none when the command line is rejected).
        QTest::addColumn<Run>("run");
        const QByteArrayList remove = {"#DeletePortMapping\"",
                                       "<NewExternalPort>14141</NewExternalPort>",
                                       "<NewProtocol>TCP</NewProtocol>"};
        const QByteArrayList add =
            QByteArrayList{"#AddPortMapping\""} + remove.mid(1) +
            QByteArrayList{"<NewInternalPort>14141</NewInternalPort>",
                           "<NewInternalClient>127.0.0.1</NewInternalClient>"};
        QTest::newRow("open") << Run{"/open 14141 TCP", 0, add};
        QTest::newRow("close") << Run{"/close 14141 TCP", 0, remove};
        QTest::newRow("open refused") << Run{"/open 14141 TCP", 718, add};
        QTest::newRow("other port") << Run{"/open 14142 TCP", 0, {}};
        QTest::newRow("no slash") << Run{"open 14141 TCP", 0, {}};
        QTest::newRow("extra word") << Run{"/open 14141 TCP now", 0, {}};
    }

    void commandLine()
    {
        QFETCH(Run, run);
        const auto& [arguments, faultCode, action] = run;
        // Serves its description with the one service, and answers an action with faultCode unless
        // that is 0. A request is answered once it is complete, an action with its envelope.
        QTcpServer gateway;
        QVERIFY(gateway.listen(QHostAddress::LocalHost));
        QByteArrayList actions;
        connect(&gateway, &QTcpServer::newConnection, &gateway, [&, faultCode = faultCode] {
            QTcpSocket* socket = gateway.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                const QByteArray request = socket->peek(socket->bytesAvailable());
                const bool post = request.startsWith("POST ");
                if (!request.contains("\r\n\r\n") || (post && !request.contains(":Envelope>")))
                    return;
                if (post)
                    actions << socket->readAll();
                const QByteArray body =
                    !post       ? "<root><service><serviceType>urn:schemas-upnp-org:service:"
                                  "WANIPConnection:1"
                                  "</serviceType><controlURL>/ctl</controlURL></service></root>"
                    : faultCode ? "<errorCode>" + QByteArray::number(faultCode) + "</errorCode>"
                                : QByteArray("<done/>");
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                    "\r\nConnection: close\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
        qputenv("UPNPCJ_GATEWAY_URL", QByteArray("http://127.0.0.1:") +
                                          QByteArray::number(gateway.serverPort()) +
                                          "/rootDesc.xml");
        QProcess tool;
        // What the tool says shows in the test log.
        tool.setProcessChannelMode(QProcess::ForwardedChannels);
        QSignalSpy finished(&tool, &QProcess::finished);
        tool.start(UPNPCJ_PATH, arguments.split(' '));
        QVERIFY(finished.wait(30000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        // 2 for a command line it does not take, before any traffic; 1 for a refusal.
        QCOMPARE(tool.exitCode(), action.isEmpty() ? 2 : faultCode != 0 ? 1 : 0);
        QCOMPARE(actions.size(), action.isEmpty() ? 0 : 1);
        for (const QByteArray& element : action)
            QVERIFY2(actions.first().contains(element), element.constData());
    }
};

QTEST_GUILESS_MAIN(UpnpToolTest)
#include "tst_upnpcj.moc"
