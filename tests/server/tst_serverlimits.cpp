#include "lobbywire.h"
#include "rawclient.h"
#include "serverprocess.h"

#include <QtTest>

#include <memory>

// Each test runs its own server, most with one limit set tight: the offender is refused or cut
// off while a second client notices nothing.
class ServerLimitsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServerProcess> server;

    // A server with one room (0, for game 0) and the accounts alice, bob and carol.
    bool startServer(const QString& limits, const QStringList& arguments = {})
    {
        server = std::make_unique<ServerProcess>(
            "[limits]\n" + limits + "\n[rooms]\nsize=1\n1\\title=Arena\n1\\gameId=0\n", arguments);
        for (const char* name : {"alice", "bob", "carol"}) {
            if (!server->createAccount(name, "secret", name))
                return false;
        }
        return server->start();
    }

    static QByteArray refusedLogin(quint32 users)
    {
        return replyFrame(Wire().u32(1).u32(0).u32(users).str(""));
    }

  private slots:
    void chatLinesBeyondTheRateAreDropped()
    {
        QVERIFY(startServer("chatLinesPerSecond=2"));
        RawClient speaker, listener;
        QVERIFY(speaker.login(server->port(), "alice", "secret"));
        QVERIFY(listener.login(server->port(), "bob", "secret"));
        ROUND_TRIP(speaker, request(EnterRoom, Wire().u32(0).str("")),
                   replyFrame(Wire().u32(0).u32(1)) + u32Reply(1));
        ROUND_TRIP(listener, request(EnterRoom, Wire().u32(0).str("")),
                   replyFrame(Wire().u32(0).u32(2)) + u32Reply(1) + u32Reply(2));
        QByteArray lines, delivered;
        for (const char* text : {"one", "two", "three"}) {
            lines += request(Speak, Wire().u32(0).str(text));
            delivered += roomEvent(EventSpeak, 0, 1, 0, 0, text);
        }
        speaker.send(lines);
        delivered.chop(roomEvent(EventSpeak, 0, 1, 0, 0, "three").size());
        EXPECT_BYTES(listener, delivered);
        ROUND_TRIP(listener, request(GetCount), u32Reply(200));
        QVERIFY(server->waitForLog("refused: chat line in room 0: rate limit"));
    }

    void roomCreationsBeyondTheRateAreRefused()
    {
        QVERIFY(startServer("roomCreationsPerMinute=1"));
        RawClient creator;
        QVERIFY(creator.login(server->port(), "alice", "secret"));
        const QByteArray create = request(CreateRoom, Wire().str("t").str("").u32(2).u32(0));
        ROUND_TRIP(creator, create, u32Reply(1));
        ROUND_TRIP(creator, request(LeaveRoom, Wire().u32(1)), u32Reply(0));
        ROUND_TRIP(creator, create, u32Reply(noRoom));
        QVERIFY(server->waitForLog("refused: room creation: rate limit"));
    }

    void failedLoginsBarTheAddress()
    {
        QVERIFY(startServer("failedLoginsPerMinute=1"));
        RawClient bystander, guesser;
        QVERIFY(bystander.login(server->port(), "alice", "secret"));
        QVERIFY(guesser.open(server->port()));
        for (const char* password : {"wrong", "again", "secret"})
            ROUND_TRIP(guesser, request(Authenticate, Wire().str("bob").str(password)),
                       refusedLogin(1));
        QVERIFY(server->waitForLog("refused: login: address barred"));
        ROUND_TRIP(bystander, request(GetCount), u32Reply(200));
    }

    void registrationMailsBeyondTheRateAreRefused()
    {
        QVERIFY(startServer("registrationMailsPerHour=1"));
        RawClient client;
        QVERIFY(client.open(server->port()));
        ROUND_TRIP(client, request(RegisterMail, Wire().str("one@example.org")), u32Reply(0));
        ROUND_TRIP(client, request(RegisterMail, Wire().str("two@example.org")), u32Reply(1));
        QVERIFY(server->waitForLog("refused: registration: mail rate limit"));
    }

    void connectionsPerAddressAreCapped()
    {
        QVERIFY(startServer("connectionsPerAddress=2"));
        RawClient first, second, third;
        QVERIFY(first.open(server->port()));
        QVERIFY(second.open(server->port()));
        QVERIFY(third.connectTo(server->port()));
        third.send(clientHello());
        EXPECT_CLOSED(third, QByteArray());
        QVERIFY(server->waitForLog("too many connections from it"));
        first.send(request(Quit));
        EXPECT_CLOSED(first, notifyFrame(CloseNotice, Wire().u32(CloseNormal)));
    }

    void usersBeyondTheMaximumAreRefused()
    {
        QVERIFY(startServer("[lobby]\nmaxUsers=1"));
        RawClient inside, outside;
        QVERIFY(inside.login(server->port(), "alice", "secret"));
        QVERIFY(outside.open(server->port()));
        ROUND_TRIP(outside, request(Authenticate, Wire().str("bob").str("secret")),
                   refusedLogin(1));
        QVERIFY(server->waitForLog("refused: login: the lobby holds the most users"));
        ROUND_TRIP(inside, request(GetCount), u32Reply(200));
    }

    void silentClientIsClosed()
    {
        QVERIFY(startServer("helloTimeoutSeconds=1"));
        RawClient silent;
        QVERIFY(silent.connectTo(server->port()));
        EXPECT_CLOSED(silent, QByteArray());
        QVERIFY(server->waitForLog("no hello in time"));
    }

    void clientThatStopsReadingIsCutOff()
    {
        QVERIFY(startServer("sendQueueBytes=4096\nchatLinesPerSecond=1000000"));
        RawClient stalled, bystander;
        QVERIFY(stalled.login(server->port(), "alice", "secret"));
        QVERIFY(bystander.login(server->port(), "bob", "secret"));
        ROUND_TRIP(stalled, request(EnterRoom, Wire().u32(0).str("")),
                   replyFrame(Wire().u32(0).u32(1)) + u32Reply(1));
        stalled.stopReading();
        // Its own chat lines come back to it; the kernel's buffers fill first, then the
        // server's queue for it.
        QByteArray burst;
        for (int i = 0; i < 100; ++i)
            burst += request(Speak, Wire().u32(0).str(QString(128, QChar(0x3042))));
        const QString cutOff = "closed: send queue over 4096 bytes";
        for (int i = 0; i < 2000 && !server->log().contains(cutOff); ++i)
            stalled.send(burst);
        QVERIFY(server->waitForLog(cutOff));
        ROUND_TRIP(bystander, request(GetCount), u32Reply(200));
    }

    void dualStackListenerNamesTheHostByItsIPv4Address()
    {
        QVERIFY(startServer("", {"--listen", "any"}));
        RawClient host, guest;
        QVERIFY(host.login(server->port(), "alice", "secret"));
        QVERIFY(guest.login(server->port(), "bob", "secret"));
        const QByteArray enter = request(EnterRoom, Wire().u32(0).str(""));
        ROUND_TRIP(host, enter, replyFrame(Wire().u32(0).u32(1)) + u32Reply(1));
        ROUND_TRIP(guest, enter, replyFrame(Wire().u32(0).u32(2)) + u32Reply(1) + u32Reply(2));
        ROUND_TRIP(host, request(RecruitMatch, Wire().u32(0)),
                   roomEvent(EventEnter, 0, 2, 0, 0, "bob") + u32Reply(0));
        ROUND_TRIP(guest, request(ApplyMatch, Wire().u32(0).u32(1)),
                   roomEvent(EventRecruitStart, 0, 1, 2, 2) + u32Reply(0));
        // The host's address as seen on an IPv6 socket is IPv4-mapped; the text is plain IPv4.
        ROUND_TRIP(host, request(StartBattle, Wire().u32(0)),
                   roomEvent(EventRecruitStart, 0, 1, 2, 2) + roomEvent(EventApply, 0, 2, 1, 2) +
                       u32Reply(0) + roomEvent(EventGameStart, 0, 1, 0, 0, "127.0.0.1:14141"));
    }

    void terminationSendsCloseNoticesAndKeepsAccounts()
    {
        QVERIFY(startServer(""));
        RawClient user, visitor;
        QVERIFY(user.login(server->port(), "alice", "secret"));
        QVERIFY(visitor.open(server->port()));
        QCOMPARE(server->terminate(), 0);
        for (RawClient* client : {&user, &visitor})
            EXPECT_CLOSED(*client, notifyFrame(CloseNotice, Wire().u32(CloseServerShutdown)));
        QVERIFY(server->log().contains("metrics connections=0 users=0"));
        QVERIFY(server->start());
        RawClient again;
        QVERIFY2(again.login(server->port(), "alice", "secret"), qPrintable(again.failure()));
    }
};

QTEST_GUILESS_MAIN(ServerLimitsTest)
#include "tst_serverlimits.moc"
