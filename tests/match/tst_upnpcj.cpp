// The port-mapping tool against a stand-in Internet gateway on 127.0.0.1. The tool is always given
// UPNPCJ_GATEWAY_URL, so it never looks for the real router.

#include <QHostAddress>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace
{
const QByteArray serviceType = "urn:schemas-upnp-org:service:WANIPConnection:1";

// The stand-in gateway's answer to a whole request: its description with the one service, or the
// SOAP answer to an action on it, a refusal with faultCode unless that is 0.
QByteArray gatewayAnswer(const QByteArray& request, int faultCode)
{
    QByteArray body =
        "<root><device><deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1"
        "</deviceType><serviceList><service><serviceType>" +
        serviceType +
        "</serviceType><controlURL>/ctl/IPConn</controlURL></service></serviceList>"
        "</device></root>";
    // The action's name follows the service type in the SOAPAction header.
    const qsizetype hash = request.indexOf('#');
    if (request.startsWith("POST "))
        body = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>" +
               (faultCode == 0
                    ? "<u:" + request.mid(hash + 1, request.indexOf('"', hash) - hash - 1) +
                          "Response xmlns:u=\"" + serviceType + "\"/>"
                    : "<s:Fault><detail><UPnPError><errorCode>" + QByteArray::number(faultCode) +
                          "</errorCode></UPnPError></detail></s:Fault>") +
               "</s:Body></s:Envelope>";
    return "HTTP/1.1 " +
           QByteArray(faultCode && hash > 0 ? "500 Internal Server Error" : "200 OK") +
           "\r\nContent-Type: text/xml\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}
} // namespace

class UpnpToolTest : public QObject
{
    Q_OBJECT

  private slots:
    void commandLine_data();
    void commandLine();
};

void UpnpToolTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("faultCode");
    // The action's name and the elements of its one request; none when the command line is
    // rejected before any traffic.
    QTest::addColumn<QByteArrayList>("action");
    const QByteArrayList remove = {"#DeletePortMapping\"",
                                   "<NewExternalPort>14141</NewExternalPort>",
                                   "<NewProtocol>TCP</NewProtocol>"};
    const QByteArrayList add = QByteArrayList{"#AddPortMapping\""} + remove.mid(1) +
                               QByteArrayList{"<NewInternalPort>14141</NewInternalPort>",
                                              "<NewInternalClient>127.0.0.1</NewInternalClient>"};
    const QStringList open = {"/open", "14141", "TCP"};
    const QStringList close = {"/close", "14141", "TCP"};
    QTest::newRow("open") << open << 0 << add;
    QTest::newRow("close") << close << 0 << remove;
    QTest::newRow("open refused") << open << 718 << add;
    QTest::newRow("close refused") << close << 714 << remove;
    const auto rejected = [](const char* name, const QStringList& arguments) {
        QTest::newRow(name) << arguments << 0 << QByteArrayList();
    };
    rejected("nothing", {});
    rejected("protocol missing", {"/open", "14141"});
    rejected("other port", {"/open", "14142", "TCP"});
    rejected("other protocol", {"/close", "14141", "UDP"});
    rejected("unknown command", {"open", "14141", "TCP"});
    rejected("extra word", open + QStringList{"now"});
}

void UpnpToolTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, faultCode);
    QFETCH(QByteArrayList, action);
    QTcpServer gateway;
    QVERIFY(gateway.listen(QHostAddress::LocalHost));
    int connections = 0;
    QByteArrayList actions;
    connect(&gateway, &QTcpServer::newConnection, &gateway, [&] {
        while (QTcpSocket* socket = gateway.nextPendingConnection()) {
            ++connections;
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                const QByteArray request = socket->peek(socket->bytesAvailable());
                // Answered once complete with its header, and an action with its envelope.
                if (!request.contains("\r\n\r\n") ||
                    (request.startsWith("POST ") && !request.contains(":Envelope>")))
                    return;
                if (request.startsWith("POST "))
                    actions << request;
                socket->write(gatewayAnswer(socket->readAll(), faultCode));
                socket->disconnectFromHost();
            });
        }
    });
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("UPNPCJ_GATEWAY_URL",
                       QString("http://127.0.0.1:%1/rootDesc.xml").arg(gateway.serverPort()));
    tool.setProcessEnvironment(environment);
    // What the tool says shows in the test log.
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    QSignalSpy finished(&tool, &QProcess::finished);
    tool.start(UPNPCJ_PATH, arguments);
    QVERIFY(finished.wait(30000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode() == 0, !action.isEmpty() && faultCode == 0);
    // Connections still in the backlog count too, so none is missed after the tool ended.
    while (gateway.waitForNewConnection(0)) {
    }
    QCOMPARE(actions.size(), action.isEmpty() ? 0 : 1);
    if (action.isEmpty())
        QCOMPARE(connections, 0);
    for (const QByteArray& element : action)
        QVERIFY2(actions.first().contains(element), element.constData());
}

QTEST_GUILESS_MAIN(UpnpToolTest)
#include "tst_upnpcj.moc"
