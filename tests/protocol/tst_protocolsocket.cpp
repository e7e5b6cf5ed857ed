#include "protocol/protocolsocket.h"
#include "lobbywire.h"
#include "support/connectedlobby.h"
#include "support/childscenario.h"
#include "support/fakelobbyserver.h"
#include "support/modalanswer.h"
#include "support/wire.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QWidget>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(ProtocolSocket::CloseReason)

namespace
{

// A connection past the hello that records how it closed.
struct Session : ConnectedLobby {
    QSignalSpy closed{&socket, &ProtocolSocket::close};
};

// Stands in for a form's reply slot.
class ReplyReader : public QWidget
{
    Q_OBJECT

  public:
    explicit ReplyReader(ProtocolSocket* socket) : socket(socket) {}
    QList<quint32> results;

  public slots:
    void doRecvReply()
    {
        socket->prepareRecvReply(true);
        results << socket->readUInt32();
        socket->endCommand();
    }

  private:
    ProtocolSocket* socket;
};

} // namespace

class ProtocolSocketTest : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase() { qRegisterMetaType<ProtocolSocket::CloseReason>(); }

    void helloOutcome_data();
    void helloOutcome();
    void replyArrivingByteByByteIsSignalledOnce();
    void joinedPacketsGiveOneSignalEachReplyFirst();
    void connectionEnd_data();
    void connectionEnd();
    void largestPayloadIsAccepted();
    void framesLeaveWholeOneAtATimeInCallOrder();
    void commandDisablesItsTargetUntilItEnds();
    void replyWithoutOpenCommandWaitsForNextCommand();
    void checkUtf8LengthCountsBytes_data();
    void checkUtf8LengthCountsBytes();
    void fatalPaths_data();
    void fatalPaths();
};

void ProtocolSocketTest::helloOutcome_data()
{
    QTest::addColumn<QByteArray>("hello");
    QTest::addColumn<int>("connectedCount");
    QTest::addColumn<int>("reason");
    QTest::newRow("pass") << serverHello(0) << 1 << -1;
    QTest::newRow("version refused") << serverHello(1) << 0 << int(ProtocolSocket::VersionMismatch);
    QTest::newRow("unknown result") << serverHello(7) << 0 << int(ProtocolSocket::ConnectionError);
    QTest::newRow("length 5") << frame(Wire().u32(0).byte(0)) << 0
                              << int(ProtocolSocket::ConnectionError);
    QTest::newRow("length 0") << frame({}) << 0 << int(ProtocolSocket::ConnectionError);
}

void ProtocolSocketTest::helloOutcome()
{
    QFETCH(QByteArray, hello);
    QFETCH(int, connectedCount);
    QFETCH(int, reason);

    FakeLobbyServer server;
    server.exportAddress();
    ProtocolSocket socket(nullptr);
    QSignalSpy connected(&socket, &ProtocolSocket::connected);
    QSignalSpy closed(&socket, &ProtocolSocket::close);
    socket.connectToServer();
    EXPECT_CLIENT_BYTES(server, clientHello());
    server.send(hello);
    // A trailing packet proves that nothing is read after the hello failed.
    server.send(replyFrame(Wire().u32(0)));

    if (reason < 0) {
        QVERIFY(connected.wait(5000));
        QVERIFY(closed.isEmpty());
    } else {
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(closed.at(0).at(0).value<ProtocolSocket::CloseReason>(),
                 ProtocolSocket::CloseReason(reason));
    }
    QCOMPARE(connected.count(), connectedCount);
}

void ProtocolSocketTest::replyArrivingByteByByteIsSignalledOnce()
{
    Session s;
    QVERIFY(s.open());
    QSignalSpy replies(&s.socket, &ProtocolSocket::recvReply);
    const QByteArray packet = replyFrame(Wire().u32(42).str("名前"));

    s.server.sendSplit(packet.left(packet.size() - 1));
    QTest::qWait(0);
    QCOMPARE(replies.count(), 0);
    s.server.send(packet.right(1));
    QVERIFY(replies.wait(5000));
    QCOMPARE(replies.count(), 1);

    QVERIFY(s.socket.prepareRecvReply(true));
    QCOMPARE(s.socket.readUInt32(), 42u);
    QCOMPARE(s.socket.readString(), QString("名前"));
    s.socket.releaseRecvBuffer();
    QVERIFY(!s.socket.prepareRecvReply(false));
}

void ProtocolSocketTest::joinedPacketsGiveOneSignalEachReplyFirst()
{
    Session s;
    QVERIFY(s.open());
    QStringList order;
    connect(&s.socket, &ProtocolSocket::recvReply, this, [&] { order << "reply"; });
    connect(&s.socket, &ProtocolSocket::recvNotify, this, [&] { order << "notify"; });

    s.server.send(notifyFrame(NotifyConnectionCount, Wire().u32(11)) + replyFrame(Wire().u32(5)) +
                  notifyFrame(NotifySystemMessage, Wire().str("hi")));
    QTRY_COMPARE(order, QStringList({"reply", "notify"}));

    QVERIFY(s.socket.prepareRecvNotify(true));
    QCOMPARE(s.socket.readUInt32(), quint32(NotifyConnectionCount));
    QCOMPARE(s.socket.readUInt32(), 11u);
    s.socket.releaseRecvBuffer();
    QVERIFY(s.socket.prepareRecvNotify(true));
    QCOMPARE(s.socket.readUInt32(), quint32(NotifySystemMessage));
    QCOMPARE(s.socket.readString(), QString("hi"));
    s.socket.releaseRecvBuffer();
    QVERIFY(!s.socket.prepareRecvNotify(false));

    QVERIFY(s.socket.prepareRecvReply(true));
    QCOMPARE(s.socket.readUInt32(), 5u);
    s.socket.releaseRecvBuffer();
}

void ProtocolSocketTest::connectionEnd_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ProtocolSocket::CloseReason>("reason");
    const auto notice = [](quint32 reason) { return notifyFrame(CloseNotice, Wire().u32(reason)); };
    QTest::newRow("notice 0") << notice(0) << ProtocolSocket::NormalClose;
    QTest::newRow("notice 1") << notice(1) << ProtocolSocket::ServerShutdown;
    QTest::newRow("notice 2") << notice(2) << ProtocolSocket::DuplicateLogin;
    QTest::newRow("notice 3") << notice(3) << ProtocolSocket::ConnectionError;
    QTest::newRow("notice 9") << notice(9) << ProtocolSocket::ConnectionError;
    QTest::newRow("empty payload") << frame({}) << ProtocolSocket::ConnectionError;
    QTest::newRow("type byte 2") << frame(Wire().byte(2).u32(0)) << ProtocolSocket::ConnectionError;
    QTest::newRow("type byte 255") << frame(Wire().byte(255)) << ProtocolSocket::ConnectionError;
    QTest::newRow("peer disconnect") << QByteArray() << ProtocolSocket::ConnectionError;
}

void ProtocolSocketTest::connectionEnd()
{
    QFETCH(QByteArray, bytes);
    QFETCH(ProtocolSocket::CloseReason, reason);
    Session s;
    QVERIFY(s.open());
    QSignalSpy replies(&s.socket, &ProtocolSocket::recvReply);
    QSignalSpy notifies(&s.socket, &ProtocolSocket::recvNotify);
    if (bytes.isEmpty())
        s.server.disconnectClient();
    else
        s.server.send(replyFrame(Wire().u32(1)) + bytes +
                      notifyFrame(NotifyConnectionCount, Wire().u32(1)));
    QTRY_COMPARE(s.closed.count(), 1);
    QCOMPARE(s.closed.at(0).at(0).value<ProtocolSocket::CloseReason>(), reason);

    // Marks of the pass that ended the connection are dropped with it, and the hang-up that
    // follows reports nothing more.
    s.server.disconnectClient();
    QTRY_VERIFY(s.socket.findChild<QTcpSocket*>()->state() == QAbstractSocket::UnconnectedState);
    QCOMPARE(s.closed.count(), 1);
    QCOMPARE(replies.count(), 0);
    QCOMPARE(notifies.count(), 0);
    QVERIFY(!s.socket.prepareRecvNotify(false));
}

void ProtocolSocketTest::largestPayloadIsAccepted()
{
    Session s;
    QVERIFY(s.open());
    QSignalSpy replies(&s.socket, &ProtocolSocket::recvReply);
    const QByteArray fields = QByteArray(maxPayload - 1, 'x');
    s.server.send(replyFrame(fields));
    QVERIFY(replies.wait(5000));
    QVERIFY(s.socket.prepareRecvReply(true));
    QByteArray read(fields.size(), '\0');
    s.socket.readBytes(read.data(), int(read.size()));
    QCOMPARE(read, fields);
    QVERIFY(s.closed.isEmpty());
}

void ProtocolSocketTest::framesLeaveWholeOneAtATimeInCallOrder()
{
    Session s;
    QVERIFY(s.open());
    const QList<QByteArray> payloads = {QByteArray(maxPayload, 'q'), Wire().u32(Speak).str("一"),
                                        Wire().u32(Speak).str("二つ目")};
    for (const QByteArray& payload : payloads) {
        s.socket.beginMessage();
        s.socket.writeBytes(payload.constData(), int(payload.size()));
        s.socket.sendMessage();
    }
    // A message without fields sends nothing at all.
    s.socket.beginMessage();
    s.socket.sendMessage();
    s.socket.sendQuit();
    // Only the first frame is in the TCP socket; the others wait for its bytesWritten report.
    QCOMPARE(s.socket.findChild<QTcpSocket*>()->bytesToWrite(), qint64(frame(payloads[0]).size()));
    EXPECT_CLIENT_BYTES(s.server, frame(payloads[0]) + frame(payloads[1]) + frame(payloads[2]) +
                                      QByteArray::fromHex("0400000000000000"));
    QVERIFY2(s.server.nothingMoreFrom(&s.socket), qPrintable(s.server.failure()));
}

void ProtocolSocketTest::commandDisablesItsTargetUntilItEnds()
{
    Session s;
    QVERIFY(s.open());
    QWidget target;
    ReplyReader reader(&s.socket);
    QSignalSpy state(&s.socket, &ProtocolSocket::changeCommandState);
    s.socket.beginCommand(&reader, SLOT(doRecvReply()), &target, SLOT(setEnabled(bool)));
    s.socket.writeUInt32(GetName);
    s.socket.writeUInt32(3);
    s.socket.sendCommand();
    // A message while the command is out leaves the command state alone.
    s.socket.beginMessage();
    s.socket.writeUInt32(Speak);
    s.socket.writeString("");
    s.socket.sendMessage();
    QVERIFY(s.socket.isCommandOpen());
    QCOMPARE(state.count(), 1);
    QTRY_VERIFY(!target.isEnabled());
    EXPECT_CLIENT_BYTES(s.server,
                        frame(Wire().u32(GetName).u32(3)) + frame(Wire().u32(Speak).byte(0)));

    s.server.send(replyFrame(Wire().u32(7)));
    QTRY_COMPARE(reader.results, QList<quint32>({7}));
    QTRY_VERIFY(target.isEnabled());
    QVERIFY(!s.socket.isCommandOpen());
}

void ProtocolSocketTest::replyWithoutOpenCommandWaitsForNextCommand()
{
    Session s;
    QVERIFY(s.open());
    QSignalSpy replies(&s.socket, &ProtocolSocket::recvReply);
    s.server.send(replyFrame(Wire().u32(1)));
    QVERIFY(replies.wait(5000));

    ReplyReader reader(&s.socket);
    for (quint32 next : {2u, 3u}) {
        s.socket.beginCommand(&reader, SLOT(doRecvReply()));
        s.socket.writeUInt32(GetCount);
        s.socket.sendCommand();
        s.server.send(replyFrame(Wire().u32(next)));
        QTRY_VERIFY(!s.socket.isCommandOpen());
    }
    QCOMPARE(reader.results, QList<quint32>({1, 2}));
}

void ProtocolSocketTest::checkUtf8LengthCountsBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("fits");
    QTest::newRow("empty") << QString() << 1 << true;
    QTest::newRow("71 of 72") << QString(71, 'a') << 72 << true;
    QTest::newRow("72 of 72") << QString(72, 'a') << 72 << false;
    QTest::newRow("39 kana of 120") << QString(39, QChar(0x3042)) << 120 << true;
    QTest::newRow("40 kana of 120") << QString(40, QChar(0x3042)) << 120 << false;
}

void ProtocolSocketTest::checkUtf8LengthCountsBytes()
{
    QFETCH(QString, text);
    QFETCH(int, limit);
    QFETCH(bool, fits);
    QCOMPARE(checkUtf8Length(text, limit), fits);
}

void ProtocolSocketTest::fatalPaths_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("message");
    QTest::newRow("frame of 1025") << "frame1025"
                                   << "[ProtocolSocket] 受信サイズがでかすぎます";
    QTest::newRow("request of 1025") << "request1025"
                                     << "[ProtocolSocket] send buffer overflow";
    QTest::newRow("string without NUL") << "stringWithoutNul"
                                        << "[ProtocolSocket] recv buffer overflow";
    QTest::newRow("short reply after long one") << "shortReply"
                                                << "[ProtocolSocket] recv buffer overflow";
    QTest::newRow("short close notice") << "shortCloseNotice"
                                        << "[ProtocolSocket] recv buffer overflow";
    QTest::newRow("read without packet") << "readWithoutPacket"
                                         << "[ProtocolSocket] invalidated recv buffer";
    QTest::newRow("nested command") << "nestedCommand"
                                    << "[ProtocolSocket] すでにコマンド通信中";
    QTest::newRow("end without command") << "endWithoutCommand"
                                         << "[ProtocolSocket] まだコマンド通信を行っていない";
    QTest::newRow("required reply missing") << "replyMissing"
                                            << "[ProtocolSocket] prepare recv reply";
    QTest::newRow("required notify missing") << "notifyMissing"
                                             << "[ProtocolSocket] prepare recv notify";
}

void ProtocolSocketTest::fatalPaths()
{
    QFETCH(QString, scenario);
    QFETCH(QString, message);
    const ScenarioResult result = runScenario(scenario);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.stdErr.contains(QString("critical error: \"%1\"").arg(message)),
             qPrintable(result.stdErr));
    QVERIFY2(result.stdErr.contains("[box] critical error | " + message),
             qPrintable(result.stdErr));
    QCOMPARE(result.stdErr.count("critical error: "), 1);
}

// Each scenario must end the process through fatalError; returning means it did not.
static int runFatalScenario(const QString& name)
{
    Session s;
    if (!s.open())
        return 90;
    // The oversized frame's box must stay up, and be the one that ends the program, while more
    // bytes arrive and the server hangs up.
    std::function<void()> beforeAnswer;
    if (name == "frame1025") {
        beforeAnswer = [&s] {
            auto* connection = s.socket.findChild<QTcpSocket*>();
            s.server.send(QByteArray(8, 0));
            s.server.disconnectClient();
            (void)QTest::qWaitFor(
                [connection] { return connection->state() == QAbstractSocket::UnconnectedState; },
                5000);
        };
    }
    auto answers = answerEveryModalWindow(beforeAnswer);
    auto reply = [&](const QByteArray& fields) {
        QSignalSpy replies(&s.socket, &ProtocolSocket::recvReply);
        s.server.send(replyFrame(fields));
        replies.wait(5000);
        s.socket.prepareRecvReply(true);
    };
    if (name == "frame1025") {
        s.server.send(Wire().u32(1025).raw(QByteArray(1025, 0)));
        QSignalSpy(&s.socket, &ProtocolSocket::recvReply).wait(5000);
    } else if (name == "request1025") {
        const QByteArray payload(maxPayload, 'q');
        s.socket.beginMessage();
        s.socket.writeBytes(payload.constData(), int(payload.size()));
        s.socket.writeBytes("!", 1);
    } else if (name == "stringWithoutNul") {
        reply(QByteArray(maxPayload - 1, 'a'));
        s.socket.readString();
    } else if (name == "shortReply") {
        reply(Wire().u32(1).u32(2).u32(3));
        s.socket.releaseRecvBuffer();
        reply(Wire().u32(1));
        s.socket.readUInt32();
        s.socket.readUInt32();
    } else if (name == "shortCloseNotice") {
        s.server.send(frame(Wire().byte(1).u32(CloseNotice).byte(0)));
        QSignalSpy(&s.socket, &ProtocolSocket::recvNotify).wait(5000);
    } else if (name == "readWithoutPacket") {
        s.socket.readUInt32();
    } else if (name == "nestedCommand") {
        s.socket.beginCommand(&s.socket, SLOT(deleteLater()));
        s.socket.beginCommand(&s.socket, SLOT(deleteLater()));
    } else if (name == "endWithoutCommand") {
        s.socket.endCommand();
    } else if (name == "replyMissing") {
        s.socket.prepareRecvReply(true);
    } else if (name == "notifyMissing") {
        s.socket.prepareRecvNotify(true);
    }
    return 91;
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(ProtocolSocketTest, runFatalScenario)
#include "tst_protocolsocket.moc"
