#include "lobbyclient.h"
#include "support/fakelobbyserver.h"
#include "support/wire.h"

#include <QAbstractSocket>
#include <QSignalSpy>
#include <QtTest>

// The bots, the soak and the server bench all speak through this client; what they do not reach
// is pinned here: its reading of what a server may not send, and its own frame limit.
class LobbyClientTest : public QObject
{
    Q_OBJECT

  private slots:
    // However the server ends the connection, with a command out, the client reports it once
    // and sends nothing more; the server's end of the socket after its notice is no second close.
    void connectionEnds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("reason");
        const auto after = [](const char* name, const QByteArray& bytes, int reason) {
            QTest::newRow(name) << serverHello(0) + bytes << reason;
        };
        const int protocolError = LobbyClient::ProtocolError;
        QTest::newRow("version refused") << serverHello(1) << int(LobbyClient::VersionMismatch);
        after("shutdown", notifyFrame(CloseNotice, Wire().u32(1)), LobbyClient::ServerShutdown);
        after("unknown notice", notifyFrame(CloseNotice, Wire().u32(9)),
              LobbyClient::ConnectionError);
        after("reply with no command out",
              replyFrame(Wire().u32(1).u32(0).u32(0).str("")) + replyFrame(Wire().u32(0)),
              protocolError);
        after("frame length 1025", Wire().u32(1025), protocolError);
        after("string without NUL", replyFrame(Wire().u32(0).u32(7).u32(1).raw("ab")),
              protocolError);
        after("short room event", notifyFrame(NotifyRoomEvent, Wire().u32(0).u32(1).u32(2)),
              protocolError);
    }

    void connectionEnds()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, reason);
        FakeLobbyServer server;
        LobbyClient client;
        QSignalSpy closed(&client, &LobbyClient::closed);
        client.connectToServer("127.0.0.1", server.port());
        client.authenticate("a", "b", [](const LoginReply&) {});
        EXPECT_CLIENT_BYTES(server, clientHello());
        server.send(bytes);
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(closed.first().first().toInt(), reason);
        QVERIFY(!client.speak(0, QString("late")));
        server.disconnectClient();
        QTRY_COMPARE(client.findChild<QAbstractSocket*>()->state(),
                     QAbstractSocket::UnconnectedState);
        QCOMPARE(closed.count(), 1);
    }

    // Requests made early wait for the hello, then go out one at a time, each after the
    // previous reply, which reaches its own callback even when it arrives one byte per write
    // before notifications; messages are not held back by the command that is out.
    void commandsGoOutOneAtATime()
    {
        FakeLobbyServer server;
        LobbyClient client;
        QStringList seen;
        client.connectToServer("127.0.0.1", server.port());
        client.authenticate("alice", "secret", [&](const LoginReply& reply) {
            seen << QString("%1 %2 ").arg(reply.userId).arg(reply.connectionCount) + reply.message;
        });
        client.getName(7, [&](quint32, const QString& name) { seen << name; });
        client.enterRoom(5, "pw", [&](quint32, const QVector<quint32>& ids) {
            seen << QString("%1 %2 %3").arg(ids.value(0)).arg(ids.value(1)).arg(ids.value(2));
        });
        QObject::connect(&client, &LobbyClient::roomEvent, [&](const LobbyRoomEvent& event) {
            seen << QString("%1 %2 %3").arg(event.value).arg(event.reserved).arg(event.text());
        });
        EXPECT_CLIENT_BYTES(server, clientHello());
        QVERIFY(server.nothingMoreFrom(&client));
        server.send(serverHello(0));
        EXPECT_CLIENT_BYTES(server, frame(Wire().u32(Authenticate).str("alice").str("secret")));
        QVERIFY(server.nothingMoreFrom(&client));
        server.send(replyFrame(Wire().u32(0).u32(7).u32(42).str("ようこそ")));
        EXPECT_CLIENT_BYTES(server, frame(Wire().u32(GetName).u32(7)));
        // Code, room and NUL leave 1015 bytes of text in a 1024-byte payload.
        QVERIFY(!client.speak(3, QString(1016, 'x')));
        QVERIFY(!client.createRoom(QString(400, QChar(0x3042)), "", 2, 0, nullptr));
        QVERIFY(client.speak(3, QString(1015, 'x')));
        EXPECT_CLIENT_BYTES(server, frame(Wire().u32(Speak).u32(3).str(QString(1015, 'x'))));
        server.send(replyFrame(Wire().u32(0).str("アリス")));
        EXPECT_CLIENT_BYTES(server, frame(Wire().u32(EnterRoom).u32(5).str("pw")));
        const QByteArray event =
            Wire().u32(EventApply).u32(4).u32(21).u32(20).u32(2).u32(99).str("応募");
        server.sendSplit(replyFrame(Wire().u32(0).u32(3)) + replyFrame(Wire().u32(11)) +
                         replyFrame(Wire().u32(12)) + replyFrame(Wire().u32(13)) +
                         notifyFrame(9, Wire().u32(1)) + // unknown kinds are skipped
                         notifyFrame(NotifyRoomEvent, event));
        QTRY_COMPARE(seen, QStringList({"7 42 ようこそ", "アリス", "11 12 13", "2 99 応募"}));
        QCOMPARE(client.pendingCommands(), 0);
    }
};

QTEST_GUILESS_MAIN(LobbyClientTest)
#include "tst_lobbyclient.moc"
