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

const char serviceType[] = "urn:schemas-upnp-org:service:WANIPConnection:1";

const QByteArray rootDescription =
    QByteArray("<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
               "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
               "<serviceList><service><serviceType>") +
    serviceType + "</serviceType><controlURL>/ctl/IPConn</controlURL></service></serviceList>" +
    "</device></root>\r\n";

QByteArray soapEnvelope(const QByteArray& body)
{
    return "<?xml version=\"1.0\"?>\r\n<s:Envelope "
           "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>" +
           body + "</s:Body></s:Envelope>\r\n";
}

// Serves the description above and answers every action on its one service, refusing each with
// faultCode unless that is 0. Keeps the action requests as they came.
class StandInGateway
{
  public:
    explicit StandInGateway(int faultCode = 0) : faultCode_(faultCode)
    {
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++connections_;
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket] { serve(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    bool listen() { return server_.listen(QHostAddress::LocalHost); }
    QString rootUrl() const
    {
        return QStringLiteral("http://127.0.0.1:%1/rootDesc.xml").arg(server_.serverPort());
    }

    // Includes connections still waiting in the backlog, so none is missed after the tool ended.
    int connectionCount()
    {
        while (server_.waitForNewConnection(0)) {
        }
        return connections_;
    }

    QList<QByteArray> actionRequests;

  private:
    void serve(QTcpSocket* socket)
    {
        const QByteArray request = socket->peek(socket->bytesAvailable());
        const bool isAction = request.startsWith("POST ");
        // Complete with its header, and an action with its envelope.
        if (!request.contains("\r\n\r\n") || (isAction && !request.contains(":Envelope>")))
            return;
        socket->readAll();
        QByteArray status = "200 OK";
        QByteArray body = rootDescription;
        if (isAction) {
            actionRequests << request;
            // The action's name follows the service type in the SOAPAction header.
            const qsizetype hash = request.indexOf('#');
            const QByteArray action = request.mid(hash + 1, request.indexOf('"', hash) - hash - 1);
            body = soapEnvelope("<u:" + action + "Response xmlns:u=\"" + serviceType + "\"/>");
            if (faultCode_ != 0) {
                status = "500 Internal Server Error";
                body = soapEnvelope("<s:Fault><faultcode>s:Client</faultcode><faultstring>"
                                    "UPnPError</faultstring><detail><UPnPError "
                                    "xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
                                    QByteArray::number(faultCode_) +
                                    "</errorCode><errorDescription>refused</errorDescription>"
                                    "</UPnPError></detail></s:Fault>");
            }
        }
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    int faultCode_;
    int connections_ = 0;
};

// Runs the tool while the gateway is served. Its exit code, or -1 when it did not end normally
// within 30 seconds.
int runTool(const QStringList& arguments, const QString& gatewayUrl)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("UPNPCJ_GATEWAY_URL"), gatewayUrl);
    process.setProcessEnvironment(environment);
    // What the tool says shows in the test log.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral(UPNPCJ_PATH), arguments);
    if (!finished.wait(30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

class UpnpToolTest : public QObject
{
    Q_OBJECT

  private slots:
    void asksGateway_data();
    void asksGateway();
    void otherCommandLinesRejected_data();
    void otherCommandLinesRejected();
};

void UpnpToolTest::asksGateway_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("faultCode");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("arguments");

    const QStringList add = {"NewExternalPort=14141", "NewProtocol=TCP", "NewInternalPort=14141",
                             "NewInternalClient=127.0.0.1"};
    const QStringList remove = {"NewExternalPort=14141", "NewProtocol=TCP"};
    QTest::newRow("open") << "/open" << 0 << "AddPortMapping" << add;
    QTest::newRow("close") << "/close" << 0 << "DeletePortMapping" << remove;
    QTest::newRow("open refused") << "/open" << 718 << "AddPortMapping" << add;
    QTest::newRow("close refused") << "/close" << 714 << "DeletePortMapping" << remove;
}

void UpnpToolTest::asksGateway()
{
    QFETCH(QString, command);
    QFETCH(int, faultCode);
    QFETCH(QString, action);
    QFETCH(QStringList, arguments);

    StandInGateway gateway(faultCode);
    QVERIFY(gateway.listen());
    const int exitCode = runTool({command, "14141", "TCP"}, gateway.rootUrl());
    if (faultCode == 0)
        QCOMPARE(exitCode, 0);
    else
        QVERIFY2(exitCode > 0, qPrintable(QString::number(exitCode)));

    QCOMPARE(gateway.actionRequests.size(), 1);
    const QByteArray& request = gateway.actionRequests.first();
    QVERIFY2(request.contains('#' + action.toLatin1() + '"'), request.constData());
    for (const QString& argument : arguments) {
        const QByteArray name = argument.section('=', 0, 0).toLatin1();
        const QByteArray value = argument.section('=', 1).toLatin1();
        const QByteArray element = '<' + name + '>' + value + "</" + name + '>';
        QVERIFY2(request.contains(element), element.constData());
    }
}

void UpnpToolTest::otherCommandLinesRejected_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("protocol missing") << QStringList{"/open", "14141"};
    QTest::newRow("other port") << QStringList{"/open", "14142", "TCP"};
    QTest::newRow("other protocol") << QStringList{"/close", "14141", "UDP"};
    QTest::newRow("unknown command") << QStringList{"open", "14141", "TCP"};
    QTest::newRow("extra word") << QStringList{"/open", "14141", "TCP", "now"};
}

void UpnpToolTest::otherCommandLinesRejected()
{
    QFETCH(QStringList, arguments);

    StandInGateway gateway;
    QVERIFY(gateway.listen());
    const int exitCode = runTool(arguments, gateway.rootUrl());
    QVERIFY2(exitCode > 0, qPrintable(QString::number(exitCode)));
    // Rejected before any traffic.
    QCOMPARE(gateway.connectionCount(), 0);
}

QTEST_GUILESS_MAIN(UpnpToolTest)
#include "tst_upnpcj.moc"
