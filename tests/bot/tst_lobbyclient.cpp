#include "lobbyclient.h"
#include "support/fakelobbyserver.h"
#include "support/wire.h"

#include <QSignalSpy>
#include <QtTest>

// The bots, the soak and the server bench all speak through this client; its own frame limit is
// the one thing of it they do not reach.
class LobbyClientTest : public QObject
{
    Q_OBJECT

  private slots:
    // Code, room and NUL leave 1015 bytes of text in a 1024-byte payload.
    void speakFillsOneFrameAtMost()
    {
        FakeLobbyServer server;
        LobbyClient client;
        QSignalSpy connected(&client, &LobbyClient::connected);
        client.connectToServer("127.0.0.1", server.port());
        EXPECT_CLIENT_BYTES(server, clientHello());
        server.send(serverHello(0));
        QVERIFY(connected.wait());
        QVERIFY(!client.speak(3, QString(1016, 'x')));
        QVERIFY(client.speak(3, QString(1015, 'x')));
        EXPECT_CLIENT_BYTES(server, frame(Wire().u32(Speak).u32(3).str(QString(1015, 'x'))));
    }
};

QTEST_GUILESS_MAIN(LobbyClientTest)
#include "tst_lobbyclient.moc"
