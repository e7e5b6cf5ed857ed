// The port-mapping tool against a stand-in Internet gateway on 127.0.0.1. The tool is always given
// UPNPCJ_GATEWAY_URL, so it never looks for the real router.

#include <QHostAddress>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QXmlStreamReader>
#include <QtTest>

namespace
{

const char serviceType[] = "urn:schemas-upnp-org:service:WANIPConnection:1";

const char rootDescription[] = R"(<?xml version="1.0"?>
<root xmlns="urn:schemas-upnp-org:device-1-0">
<specVersion><major>1</major><minor>0</minor></specVersion>
<device>
<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>
<friendlyName>stand-in gateway</friendlyName>
<deviceList><device>
<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>
<deviceList><device>
<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>
<serviceList><service>
<serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>
<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>
<controlURL>/ctl/IPConn</controlURL>
<eventSubURL>/evt/IPConn</eventSubURL>
<SCPDURL>/WANIPCn.xml</SCPDURL>
</service></serviceList>
</device></deviceList>
</device></deviceList>
</device>
</root>
)";

// Serves the root description of an Internet gateway with one WANIPConnection service, accepts
// every action on it and records what it was asked.
class StandInGateway : public QObject
{
    Q_OBJECT

  public:
    struct Call {
        QString action;
        QMap<QString, QString> arguments;
    };

    // With a fault code every action is refused with that UPnP error.
    explicit StandInGateway(int faultCode = 0) : faultCode_(faultCode)
    {
        connect(&server_, &QTcpServer::newConnection, this, &StandInGateway::accept);
    }

    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    QString rootUrl() const
    {
        return QStringLiteral("http://127.0.0.1:%1/rootDesc.xml").arg(server_.serverPort());
    }

    // Takes in connections still waiting in the backlog, so none is missed after the tool ended.
    int connectionCount()
    {
        while (server_.waitForNewConnection(0)) {
        }
        return connections_;
    }

    QStringList requestLines;
    QList<Call> calls;

  private slots:
    void accept()
    {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            ++connections_;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

  private:
    void serve(QTcpSocket* socket)
    {
        QByteArray& buffer = pending_[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> headerLines = buffer.left(headerEnd).split('\n');
        qsizetype contentLength = 0;
        QByteArray soapAction;
        for (const QByteArray& raw : headerLines.mid(1)) {
            const QByteArray line = raw.trimmed();
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length")
                contentLength = value.toLongLong();
            else if (name == "soapaction")
                soapAction = value;
        }
        if (buffer.size() < headerEnd + 4 + contentLength)
            return;
        const QByteArray requestLine = headerLines.first().trimmed();
        const QByteArray body = buffer.mid(headerEnd + 4, contentLength);
        pending_.remove(socket);
        requestLines << QString::fromLatin1(requestLine);

        if (requestLine.startsWith("GET /rootDesc.xml "))
            reply(socket, 200, "text/xml", rootDescription);
        else if (requestLine.startsWith("POST /ctl/IPConn "))
            answerAction(socket, soapAction, body);
        else
            reply(socket, 404, "text/plain", "not here");
    }

    void answerAction(QTcpSocket* socket, QByteArray soapAction, const QByteArray& body)
    {
        soapAction.replace('"', "");
        const QString action = QString::fromLatin1(soapAction.mid(soapAction.indexOf('#') + 1));
        calls << Call{action, argumentsOf(action, body)};

        if (faultCode_ != 0) {
            reply(socket, 500, "text/xml",
                  "<?xml version=\"1.0\"?>\r\n"
                  "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                  "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
                  "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring>"
                  "<detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">"
                  "<errorCode>" +
                      QByteArray::number(faultCode_) +
                      "</errorCode><errorDescription>refused</errorDescription>"
                      "</UPnPError></detail></s:Fault></s:Body></s:Envelope>\r\n");
            return;
        }
        reply(socket, 200, "text/xml",
              "<?xml version=\"1.0\"?>\r\n"
              "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
              "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
                  action.toLatin1() + "Response xmlns:u=\"" + serviceType +
                  "\"/></s:Body></s:Envelope>\r\n");
    }

    static QMap<QString, QString> argumentsOf(const QString& action, const QByteArray& body)
    {
        QMap<QString, QString> arguments;
        QXmlStreamReader xml(body);
        while (!xml.atEnd() && !(xml.isStartElement() && xml.name() == action))
            xml.readNext();
        while (xml.readNextStartElement())
            arguments.insert(xml.name().toString(), xml.readElementText());
        return arguments;
    }

    static void reply(QTcpSocket* socket, int status, const QByteArray& type,
                      const QByteArray& body)
    {
        const QByteArray reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Error";
        socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                      "\r\nContent-Type: " + type + "\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    int faultCode_;
    int connections_ = 0;
    QHash<QTcpSocket*, QByteArray> pending_;
};

struct ToolRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the tool against the gateway at gatewayUrl, serving the gateway meanwhile.
ToolRun runTool(const QStringList& arguments, const QString& gatewayUrl)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("UPNPCJ_GATEWAY_URL"), gatewayUrl);
    process.setProcessEnvironment(environment);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral(UPNPCJ_PATH), arguments);
    if (finished.isEmpty())
        finished.wait(30000);

    ToolRun run;
    run.finished = !finished.isEmpty() && process.exitStatus() == QProcess::NormalExit;
    if (!run.finished)
        process.kill();
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString describe(const ToolRun& run)
{
    return QStringLiteral("exit %1, stdout \"%2\", stderr \"%3\"")
        .arg(run.exitCode)
        .arg(QString::fromLocal8Bit(run.out), QString::fromLocal8Bit(run.err));
}

// A loopback address where nothing listens.
QString deadGatewayUrl()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return {};
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/rootDesc.xml").arg(port);
}

} // namespace

class UpnpToolTest : public QObject
{
    Q_OBJECT

  private slots:
    void mapsPort_data();
    void mapsPort();
    void refusalFails_data();
    void refusalFails();
    void unreachableGatewayFails();
    void otherCommandLinesRejected_data();
    void otherCommandLinesRejected();
};

void UpnpToolTest::mapsPort_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("expectedArguments");

    QTest::newRow("open") << "/open"
                          << "AddPortMapping"
                          << QStringList{"NewRemoteHost=",
                                         "NewExternalPort=14141",
                                         "NewProtocol=TCP",
                                         "NewInternalPort=14141",
                                         "NewInternalClient=127.0.0.1",
                                         "NewEnabled=1",
                                         "NewPortMappingDescription=tileParlor",
                                         "NewLeaseDuration=0"};
    QTest::newRow("close") << "/close"
                           << "DeletePortMapping"
                           << QStringList{"NewRemoteHost=", "NewExternalPort=14141",
                                          "NewProtocol=TCP"};
}

void UpnpToolTest::mapsPort()
{
    QFETCH(QString, command);
    QFETCH(QString, action);
    QFETCH(QStringList, expectedArguments);

    StandInGateway gateway;
    QVERIFY(gateway.listen());
    const ToolRun run = runTool({command, "14141", "TCP"}, gateway.rootUrl());

    QVERIFY2(run.finished, qPrintable(describe(run)));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(run.out.count('\n'), 1);
    QVERIFY(run.out.endsWith('\n'));
    QVERIFY(!gateway.requestLines.isEmpty());
    QVERIFY(gateway.requestLines.first().startsWith(QLatin1String("GET /rootDesc.xml ")));

    // Exactly the one action, with exactly these arguments.
    QCOMPARE(gateway.calls.size(), 1);
    QCOMPARE(gateway.calls.first().action, action);
    QStringList arguments;
    const QMap<QString, QString>& received = gateway.calls.first().arguments;
    for (const QString& expected : expectedArguments) {
        const QString name = expected.section('=', 0, 0);
        arguments << name + '=' + received.value(name, QStringLiteral("<missing>"));
    }
    QCOMPARE(arguments, expectedArguments);
    QCOMPARE(received.size(), expectedArguments.size());
}

void UpnpToolTest::refusalFails_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("faultCode");

    QTest::newRow("open, conflicting mapping") << "/open"
                                               << "AddPortMapping" << 718;
    QTest::newRow("open, not authorized") << "/open"
                                          << "AddPortMapping" << 606;
    QTest::newRow("close, no such mapping") << "/close"
                                            << "DeletePortMapping" << 714;
}

void UpnpToolTest::refusalFails()
{
    QFETCH(QString, command);
    QFETCH(QString, action);
    QFETCH(int, faultCode);

    StandInGateway gateway(faultCode);
    QVERIFY(gateway.listen());
    const ToolRun run = runTool({command, "14141", "TCP"}, gateway.rootUrl());

    QVERIFY2(run.finished, qPrintable(describe(run)));
    QVERIFY2(run.exitCode != 0, qPrintable(describe(run)));
    QVERIFY(!run.err.isEmpty());
    // The gateway was asked and its answer is what failed.
    QCOMPARE(gateway.calls.size(), 1);
    QCOMPARE(gateway.calls.first().action, action);
}

void UpnpToolTest::unreachableGatewayFails()
{
    const QString url = deadGatewayUrl();
    QVERIFY(!url.isEmpty());
    const ToolRun run = runTool({"/open", "14141", "TCP"}, url);
    QVERIFY2(run.finished, qPrintable(describe(run)));
    QVERIFY2(run.exitCode != 0, qPrintable(describe(run)));
    QVERIFY(run.out.isEmpty());
}

void UpnpToolTest::otherCommandLinesRejected_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("command alone") << QStringList{"/open"};
    QTest::newRow("protocol missing") << QStringList{"/open", "14141"};
    QTest::newRow("other port") << QStringList{"/open", "14142", "TCP"};
    QTest::newRow("other protocol") << QStringList{"/close", "14141", "UDP"};
    QTest::newRow("unknown command") << QStringList{"/list", "14141", "TCP"};
    QTest::newRow("without slash") << QStringList{"open", "14141", "TCP"};
    QTest::newRow("extra word") << QStringList{"/open", "14141", "TCP", "now"};
}

void UpnpToolTest::otherCommandLinesRejected()
{
    QFETCH(QStringList, arguments);

    StandInGateway gateway;
    QVERIFY(gateway.listen());
    const ToolRun run = runTool(arguments, gateway.rootUrl());

    QVERIFY2(run.finished, qPrintable(describe(run)));
    QVERIFY2(run.exitCode != 0, qPrintable(describe(run)));
    QVERIFY(run.err.contains("usage"));
    QVERIFY(run.out.isEmpty());
    // Rejected before any network traffic.
    QCOMPARE(gateway.connectionCount(), 0);
}

QTEST_GUILESS_MAIN(UpnpToolTest)
#include "tst_upnpcj.moc"
