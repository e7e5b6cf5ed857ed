#include "lobbyclient.h"
#include "support/fakelobbyserver.h"
#include "support/wire.h"

#include <QAbstractSocket>
#include <QSignalSpy>
#include <QtTest>

namespace
{
QByteArray request(const Wire& fields)
{
    return frame(fields);
}

LobbyClient::CloseReason reasonOf(const QSignalSpy& closed)
{
    return closed.first().first().value<LobbyClient::CloseReason>();
}

// A client past the hello, talking to a scripted server.
struct Session {
    FakeLobbyServer server;
    LobbyClient client;
    QSignalSpy closed{&client, &LobbyClient::closed};

    bool open()
    {
        client.connectToServer("127.0.0.1", server.port());
        if (!server.expect(clientHello()))
            return false;
        server.send(serverHello(0));
        return QTest::qWaitFor([this] { return client.isOpen(); }, 5000);
    }
};
} // namespace

class LobbyClientTest : public QObject
{
    Q_OBJECT

  private slots:
    void helloAnswer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("reason"); // -1: the connection opens

        QTest::newRow("accepted") << serverHello(0) << -1;
        QTest::newRow("version refused") << serverHello(1) << int(LobbyClient::VersionMismatch);
        QTest::newRow("other refusal") << serverHello(7) << int(LobbyClient::ConnectionError);
        QTest::newRow("five bytes")
            << frame(Wire().u32(0).byte(0)) << int(LobbyClient::ProtocolError);
    }

    void helloAnswer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, reason);
        FakeLobbyServer server;
        LobbyClient client;
        QSignalSpy connected(&client, &LobbyClient::connected);
        QSignalSpy closed(&client, &LobbyClient::closed);
        client.connectToServer("127.0.0.1", server.port());
        EXPECT_CLIENT_BYTES(server, clientHello());
        server.send(answer);
        if (reason < 0) {
            QVERIFY(connected.wait());
            QCOMPARE(closed.count(), 0);
        } else {
            QTRY_COMPARE(closed.count(), 1);
            QCOMPARE(int(reasonOf(closed)), reason);
            QCOMPARE(connected.count(), 0);
        }
    }

    // Requests made early wait for the hello, then go out one at a time, each after the
    // previous reply; each reply reaches its own callback.
    void commandsGoOutOneAtATime()
    {
        FakeLobbyServer server;
        LobbyClient client;
        LoginReply login;
        QStringList names;
        client.connectToServer("127.0.0.1", server.port());
        client.authenticate("alice", "secret", [&](const LoginReply& reply) { login = reply; });
        client.getName(7, [&](quint32, const QString& name) { names << name; });
        client.getName(8, [&](quint32, const QString& name) { names << name; });
        EXPECT_CLIENT_BYTES(server, clientHello());
        QVERIFY(server.nothingMoreFrom(&client));
        server.send(serverHello(0));

        EXPECT_CLIENT_BYTES(server, request(Wire().u32(Authenticate).str("alice").str("secret")));
        QVERIFY(server.nothingMoreFrom(&client));
        server.send(replyFrame(Wire().u32(0).u32(7).u32(42).str("ようこそ")));
        EXPECT_CLIENT_BYTES(server, request(Wire().u32(GetName).u32(7)));
        QCOMPARE(login.userId, 7u);
        QCOMPARE(login.connectionCount, 42u);
        QCOMPARE(login.message, QString("ようこそ"));
        // A message is not held back by the command that is out.
        QVERIFY(client.speak(3, QString("hi")));
        EXPECT_CLIENT_BYTES(server, request(Wire().u32(Speak).u32(3).str("hi")));
        server.send(replyFrame(Wire().u32(0).str("アリス")));
        EXPECT_CLIENT_BYTES(server, request(Wire().u32(GetName).u32(8)));
        server.send(replyFrame(Wire().u32(0).str("ボブ")));
        QTRY_COMPARE(names, QStringList({"アリス", "ボブ"}));
        QCOMPARE(client.pendingCommands(), 0);
    }

    // Delivered one byte per write.
    void enterRoomTakesEveryMemberPacket()
    {
        Session session;
        QVERIFY(session.open());
        QVector<quint32> members;
        quint32 count = 0;
        session.client.enterRoom(5, "pw", [&](quint32 result, const QVector<quint32>& ids) {
            QCOMPARE(result, 0u);
            members = ids;
        });
        session.client.getCount([&](quint32 rooms) { count = rooms; });
        EXPECT_CLIENT_BYTES(session.server, request(Wire().u32(EnterRoom).u32(5).str("pw")));
        const QByteArray answer = replyFrame(Wire().u32(0).u32(3)) + replyFrame(Wire().u32(11)) +
                                  replyFrame(Wire().u32(12)) + replyFrame(Wire().u32(13));
        session.server.sendSplit(answer);
        EXPECT_CLIENT_BYTES(session.server, request(Wire().u32(GetCount)));
        QCOMPARE(members, QVector<quint32>({11, 12, 13}));
        session.server.send(replyFrame(Wire().u32(9)));
        QTRY_COMPARE(count, 9u);
    }

    void notificationsBecomeSignals()
    {
        Session session;
        QVERIFY(session.open());
        QVector<quint32> fields;
        QString text;
        QObject::connect(&session.client, &LobbyClient::roomEvent,
                         [&](const LobbyRoomEvent& event) {
                             fields = {event.kind,    event.roomId, event.userId,
                                       event.otherId, event.value,  event.reserved};
                             text = event.text();
                         });
        QSignalSpy count(&session.client, &LobbyClient::connectionCountChanged);
        QSignalSpy message(&session.client, &LobbyClient::systemMessage);
        session.server.send(
            notifyFrame(9, Wire().u32(1)) + // unknown kinds are skipped
            notifyFrame(NotifyRoomEvent,
                        Wire().u32(EventApply).u32(4).u32(21).u32(20).u32(2).u32(99).str("応募")) +
            notifyFrame(NotifyConnectionCount, Wire().u32(123)) +
            notifyFrame(NotifySystemMessage, Wire().str("メンテナンス")));
        QTRY_COMPARE(message.count(), 1);
        QCOMPARE(fields, QVector<quint32>({EventApply, 4, 21, 20, 2, 99}));
        QCOMPARE(text, QString("応募"));
        QCOMPARE(count.first().first().toUInt(), 123u);
        QCOMPARE(message.first().first().toString(), QString("メンテナンス"));
        QCOMPARE(session.closed.count(), 0);
    }

    void closeNotice_data()
    {
        QTest::addColumn<quint32>("reason");
        QTest::addColumn<int>("expected");
        QTest::newRow("normal") << 0u << int(LobbyClient::NormalClose);
        QTest::newRow("shutdown") << 1u << int(LobbyClient::ServerShutdown);
        QTest::newRow("duplicate login") << 2u << int(LobbyClient::DuplicateLogin);
        QTest::newRow("unknown") << 9u << int(LobbyClient::ConnectionError);
    }

    void closeNotice()
    {
        QFETCH(quint32, reason);
        QFETCH(int, expected);
        Session session;
        QVERIFY(session.open());
        session.client.quit();
        EXPECT_CLIENT_BYTES(session.server, request(Wire().u32(Quit)));
        session.server.send(notifyFrame(CloseNotice, Wire().u32(reason)));
        QTRY_COMPARE(session.closed.count(), 1);
        QCOMPARE(int(reasonOf(session.closed)), expected);
        // The server, not the client, closes the socket after its notice; that end is no
        // second close.
        auto* socket = session.client.findChild<QAbstractSocket*>();
        QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
        session.server.disconnectClient();
        QTRY_COMPARE(socket->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(session.closed.count(), 1);
    }

    void protocolFaultsEndTheConnection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("commandOut");

        QTest::newRow("reply with no command out") << replyFrame(Wire().u32(0)) << false;
        QTest::newRow("frame length 0") << Wire().u32(0).bytes() << true;
        QTest::newRow("frame length 1025") << Wire().u32(1025).bytes() << true;
        QTest::newRow("type byte 2") << frame(Wire().byte(2).u32(0)) << true;
        QTest::newRow("short reply") << replyFrame(Wire().u32(0).u32(7)) << true;
        QTest::newRow("string without NUL")
            << replyFrame(Wire().u32(0).u32(7).u32(1).raw("ab")) << true;
        QTest::newRow("short room event")
            << notifyFrame(NotifyRoomEvent, Wire().u32(0).u32(1).u32(2)) << false;
    }

    void protocolFaultsEndTheConnection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, commandOut);
        Session session;
        QVERIFY(session.open());
        bool answered = false;
        if (commandOut) {
            session.client.authenticate("a", "b", [&](const LoginReply&) { answered = true; });
            EXPECT_CLIENT_BYTES(session.server,
                                request(Wire().u32(Authenticate).str("a").str("b")));
        }
        session.server.send(bytes);
        QTRY_COMPARE(session.closed.count(), 1);
        QCOMPARE(reasonOf(session.closed), LobbyClient::ProtocolError);
        QVERIFY(!answered);
        QVERIFY(!session.client.speak(0, QString("late")));
    }

    void oversizedRequestsAreNotSent()
    {
        Session session;
        QVERIFY(session.open());
        // Code, room and NUL leave 1015 bytes of text in a 1024-byte payload.
        QVERIFY(!session.client.speak(1, QString(1016, 'x')));
        QVERIFY(!session.client.createRoom(QString(400, QChar(0x3042)), "", 2, 0, nullptr));
        QVERIFY(session.client.speak(1, QString(1015, 'x')));
        EXPECT_CLIENT_BYTES(session.server,
                            request(Wire().u32(Speak).u32(1).str(QString(1015, 'x'))));
        QVERIFY(session.server.nothingMoreFrom(&session.client));
    }
};

QTEST_GUILESS_MAIN(LobbyClientTest)
#include "tst_lobbyclient.moc"
