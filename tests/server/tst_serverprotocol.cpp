#include "lobbywire.h"
#include "rawclient.h"
#include "serverprocess.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

// One server for the whole suite, with three permanent rooms: 0 a chat room, 1 a room for
// game 0, 2 a locked chat room for two.
static const char config[] = R"(
[lobby]
systemMessage=Welcome
maxRoomsPerUser=2
[limits]
connectionCountIntervalMs=0
[rooms]
size=3
1\title=Lobby
1\gameId=chat
2\title=Arena
2\capacity=10
2\gameId=0
3\title=Den
3\password=pw
3\capacity=2
3\gameId=chat
)";

// Account numbers in the order initTestCase creates them.
enum : quint32 { alice = 1, bob, carol, dave, erin };

#define LOGIN(client, account)                                                                     \
    RawClient client;                                                                              \
    QVERIFY2(client.login(server->port(), account, "secret"), qPrintable(client.failure()))

// A command whose reply comes first, then the room event it caused, seen by every member.
#define STEP(actor, sent, result, event, members)                                                  \
    do {                                                                                           \
        (actor).send(sent);                                                                        \
        EXPECT_BYTES(actor, u32Reply(result));                                                     \
        for (RawClient * member : members)                                                         \
            EXPECT_BYTES(*member, event);                                                          \
    } while (false)

static QByteArray roomInfo(quint32 status, quint32 flags, const QString& title, quint32 users,
                           quint32 capacity, quint32 gameId, quint32 next)
{
    return replyFrame(
        Wire().u32(status).u32(flags).str(title).u32(users).u32(capacity).u32(gameId).u32(next));
}

static QByteArray entered(const QVector<quint32>& members)
{
    QByteArray bytes = replyFrame(Wire().u32(0).u32(quint32(members.size())));
    for (quint32 member : members)
        bytes += u32Reply(member);
    return bytes;
}

static QByteArray roomRequest(quint32 code, quint32 roomId)
{
    return request(code, Wire().u32(roomId));
}

static QByteArray enterRequest(quint32 roomId, const QString& password = {})
{
    return request(EnterRoom, Wire().u32(roomId).str(password));
}

static QByteArray speakRequest(quint32 roomId, const QString& text)
{
    return request(Speak, Wire().u32(roomId).str(text));
}

class ServerProtocolTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServerProcess> server;
    // A logged-in client kept across the rows of one table.
    std::unique_ptr<RawClient> idle;

    QString latestMailTo(const QString& address)
    {
        QDir outbox(QDir(server->dataFolder()).filePath("outbox"));
        const QStringList files = outbox.entryList({"*.eml"}, QDir::Files, QDir::Name);
        for (auto name = files.crbegin(); name != files.crend(); ++name) {
            QFile file(outbox.filePath(*name));
            file.open(QIODevice::ReadOnly);
            const QString text = QString::fromUtf8(file.readAll());
            if (text.contains("To: <" + address + ">"))
                return text;
        }
        return {};
    }

  private slots:
    void initTestCase()
    {
        server = std::make_unique<ServerProcess>(config);
        for (const char* name : {"alice", "bob", "carol", "dave", "erin"})
            QVERIFY(server->createAccount(name, "secret", QString(name).toUpper(), name[0] == 'a'));
        QVERIFY(server->start());
    }

    // After all of it the server still shuts down cleanly (and, under the sanitizers, leaks
    // nothing).
    void cleanupTestCase()
    {
        idle.reset();
        QCOMPARE(server->terminate(), 0);
    }

    void cleanup()
    {
        // Every test closes its clients; the next starts once the server has let them go.
        QTRY_COMPARE_WITH_TIMEOUT(server->log().count(" opened") - server->log().count(" closed: "),
                                  idle ? 1 : 0, 10000);
    }

    void connectionCountReachesEveryone()
    {
        RawClient watcher(true);
        QVERIFY2(watcher.login(server->port(), "alice", "secret"), qPrintable(watcher.failure()));
        EXPECT_BYTES(watcher, notifyFrame(NotifyConnectionCount, Wire().u32(1)));
        {
            LOGIN(other, "bob");
            EXPECT_BYTES(watcher, notifyFrame(NotifyConnectionCount, Wire().u32(2)));
        }
        EXPECT_BYTES(watcher, notifyFrame(NotifyConnectionCount, Wire().u32(1)));
    }

    void helloAnswers_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("lastBytes");
        QTest::newRow("accepted, then Quit before login")
            << clientHello() + request(Quit)
            << serverHello(0) + notifyFrame(CloseNotice, Wire().u32(0));
        QTest::newRow("other version") << frame(Wire().u32(helloMagic).u32(3)) << serverHello(1);
        QTest::newRow("other magic") << frame(Wire().u32(0x12345678).u32(2)) << serverHello(2);
        QTest::newRow("short hello") << frame(Wire().u32(helloMagic)) << serverHello(2);
        QTest::newRow("oversized hello") << Wire().u32(5000).bytes() << serverHello(2);
    }

    void helloAnswers()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, lastBytes);
        RawClient client;
        QVERIFY(client.connectTo(server->port()));
        client.send(sent);
        EXPECT_CLOSED(client, lastBytes);
    }

    void badInputClosesOnlyTheOffender_data()
    {
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("logged");
        const QByteArray login = request(Authenticate, Wire().str("alice").str("secret"));
        QTest::newRow("empty frame") << false << Wire().u32(0).bytes() << "frame length 0";
        QTest::newRow("frame over 1024") << true << Wire().u32(1025).bytes() << "frame length 1025";
        QTest::newRow("code 10") << true << request(10) << "unknown request code 10";
        QTest::newRow("code 11") << true << request(11) << "unknown request code 11";
        QTest::newRow("code 25") << true << request(25) << "unknown request code 25";
        QTest::newRow("field past the payload")
            << true << request(GetName) << "field userId runs past the payload";
        QTest::newRow("string without NUL")
            << false << frame(Wire().u32(Authenticate).raw("alice")) << "string account has no NUL";
        QTest::newRow("command before login")
            << false << request(GetCount) << "request 12 before login";
        QTest::newRow("message before login")
            << false << speakRequest(0, "hi") << "request 17 before login";
        QTest::newRow("second command before its reply")
            << false << login + request(RegisterKey, Wire().str("k"))
            << "command 3 before the reply";
        QTest::newRow("second login") << true << login << "login on a connection already logged in";
        QTest::newRow("room title of 144 bytes")
            << true
            << request(CreateRoom, Wire().str(QString(48, QChar(0x3042))).str("").u32(2).u32(0))
            << "string title of 144 bytes";
        QTest::newRow("room password of 9 characters")
            << true << request(CreateRoom, Wire().str("t").str("123456789").u32(2).u32(0))
            << "room password longer than 8";
        QTest::newRow("handle name of 120 bytes")
            << true << request(SetName, Wire().str(QString(120, 'n')))
            << "string name of 120 bytes";
        QTest::newRow("chat line of 129 characters")
            << true << speakRequest(0, QString(129, 'c')) << "chat line of 129 characters";
        QTest::newRow("invalid UTF-8") << true << request(SetName, Wire().raw("\xff\xfe").byte(0))
                                       << "string name is not valid UTF-8";
    }

    void badInputClosesOnlyTheOffender()
    {
        QFETCH(bool, loggedIn);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, logged);
        LOGIN(bystander, "bob");
        ROUND_TRIP(bystander, enterRequest(0), entered({bob}));
        RawClient offender;
        QVERIFY(loggedIn ? offender.login(server->port(), "carol", "secret")
                         : offender.open(server->port()));
        offender.send(bytes);
        EXPECT_CLOSED(offender, QByteArray());
        QVERIFY(server->waitForLog("protocol violation: " + logged));
        ROUND_TRIP(bystander, request(GetCount), u32Reply(200));
    }

    void refusedRequests_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("GetCount") << request(GetCount) << u32Reply(200);
        QTest::newRow("GetName of nobody")
            << request(GetName, Wire().u32(999)) << replyFrame(Wire().u32(1).str(""));
        QTest::newRow("GetRoomInfo of a permanent room")
            << roomRequest(GetRoomInfo, 1) << roomInfo(0, 0, "Arena", 0, 10, 0, 2);
        QTest::newRow("GetRoomInfo of a locked room")
            << roomRequest(GetRoomInfo, 2) << roomInfo(0, 1, "Den", 0, 2, chatOnlyGameId, noRoom);
        QTest::newRow("GetRoomInfo past the last room")
            << roomRequest(GetRoomInfo, 150) << roomInfo(1, 0, "", 0, 0, chatOnlyGameId, noRoom);
        QTest::newRow("EnterRoom without a room")
            << enterRequest(150) << replyFrame(Wire().u32(1).u32(0));
        QTest::newRow("EnterRoom with a wrong password")
            << enterRequest(2, "no") << replyFrame(Wire().u32(3).u32(0));
        for (quint32 capacity : {1, 101})
            QTest::addRow("CreateRoom for %u", capacity)
                << request(CreateRoom, Wire().str("t").str("").u32(capacity).u32(0))
                << u32Reply(noRoom);
        QTest::newRow("CreateRoom for an unknown game")
            << request(CreateRoom, Wire().str("t").str("").u32(2).u32(7)) << u32Reply(noRoom);
        QTest::newRow("CreateRoom without a title")
            << request(CreateRoom, Wire().str("").str("").u32(2).u32(0)) << u32Reply(noRoom);
        for (quint32 code : {LeaveRoom, RecruitMatch, CancelRecruit, CancelApply, StartBattle,
                             EndBattle, DropBattle})
            QTest::addRow("request %u outside the room", code)
                << roomRequest(code, 1) << u32Reply(1);
        QTest::newRow("ApplyMatch without a recruit")
            << request(ApplyMatch, Wire().u32(1).u32(alice)) << u32Reply(1);
        QTest::newRow("SetPassword with a wrong current one")
            << request(SetPassword, Wire().str("wrong").str("new")) << u32Reply(1);
        QTest::newRow("SetPassword to 72 bytes")
            << request(SetPassword, Wire().str("secret").str(QString(72, 'p'))) << u32Reply(2);
        QTest::newRow("RegisterMail of 192 bytes")
            << request(RegisterMail, Wire().str(QString(180, 'm') + "@example.org")) << u32Reply(2);
        QTest::newRow("RegisterMail without a dot")
            << request(RegisterMail, Wire().str("a@example")) << u32Reply(2);
        QTest::newRow("RegisterKey unknown")
            << request(RegisterKey, Wire().str("k")) << u32Reply(1);
    }

    void refusedRequests()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        if (!idle) {
            idle = std::make_unique<RawClient>();
            QVERIFY2(idle->login(server->port(), "dave", "secret"), qPrintable(idle->failure()));
        }
        ROUND_TRIP(*idle, sent, reply);
    }

    void roomLifecycle()
    {
        LOGIN(owner, "alice");
        LOGIN(guest, "bob");
        ROUND_TRIP(owner,
                   request(CreateRoom, Wire().str("茶室").str("").u32(3).u32(chatOnlyGameId)),
                   u32Reply(3));
        ROUND_TRIP(guest, enterRequest(3), entered({alice, bob}));
        EXPECT_BYTES(owner, roomEvent(EventEnter, 3, bob, 0, 0, "BOB"));
        // The room list's walk: each answer names the next existing room.
        ROUND_TRIP(owner, roomRequest(GetRoomInfo, 2),
                   roomInfo(0, 1, "Den", 0, 2, chatOnlyGameId, 3));
        ROUND_TRIP(owner, roomRequest(GetRoomInfo, 3),
                   roomInfo(0, 0, "茶室", 2, 3, chatOnlyGameId, noRoom));
        guest.send(speakRequest(3, "こんにちは"));
        for (RawClient* member : {&owner, &guest})
            EXPECT_BYTES(*member, roomEvent(EventSpeak, 3, bob, 0, 0, "こんにちは"));
        ROUND_TRIP(guest, roomRequest(LeaveRoom, 3), u32Reply(0));
        EXPECT_BYTES(owner, roomEvent(EventLeave, 3, bob));
        ROUND_TRIP(owner, roomRequest(LeaveRoom, 3), u32Reply(0));
        ROUND_TRIP(owner, roomRequest(GetRoomInfo, 3),
                   roomInfo(1, 0, "", 0, 0, chatOnlyGameId, noRoom));
    }

    void enterRefusals()
    {
        LOGIN(first, "alice");
        LOGIN(second, "bob");
        LOGIN(third, "carol");
        ROUND_TRIP(first, enterRequest(2, "pw"), entered({alice}));
        ROUND_TRIP(second, enterRequest(2, "pw"), entered({alice, bob}));
        ROUND_TRIP(third, enterRequest(2, "pw"), replyFrame(Wire().u32(2).u32(0)));
        ROUND_TRIP(third, enterRequest(0), entered({carol}));
        ROUND_TRIP(third, enterRequest(0), replyFrame(Wire().u32(4).u32(0)));
        ROUND_TRIP(third, enterRequest(1), entered({carol}));
        ROUND_TRIP(third, enterRequest(2, "pw"), replyFrame(Wire().u32(5).u32(0)));
        EXPECT_BYTES(first, roomEvent(EventEnter, 2, bob, 0, 0, "BOB"));
    }

    void matchFlow()
    {
        LOGIN(host, "alice");
        LOGIN(guest, "bob");
        LOGIN(late, "carol");
        const QVector<RawClient*> everyone{&host, &guest, &late};
        ROUND_TRIP(host, enterRequest(1), entered({alice}));
        ROUND_TRIP(guest, enterRequest(1), entered({alice, bob}));
        ROUND_TRIP(late, enterRequest(1), entered({alice, bob, carol}));
        EXPECT_BYTES(host, roomEvent(EventEnter, 1, bob, 0, 0, "BOB") +
                               roomEvent(EventEnter, 1, carol, 0, 0, "CAROL"));
        EXPECT_BYTES(guest, roomEvent(EventEnter, 1, carol, 0, 0, "CAROL"));
        STEP(host, roomRequest(RecruitMatch, 1), 0, roomEvent(EventRecruitStart, 1, alice, 2, 2),
             everyone);
        ROUND_TRIP(host, roomRequest(StartBattle, 1), u32Reply(1));
        STEP(guest, request(ApplyMatch, Wire().u32(1).u32(alice)), 0,
             roomEvent(EventApply, 1, bob, alice, 2), everyone);
        ROUND_TRIP(late, request(ApplyMatch, Wire().u32(1).u32(alice)), u32Reply(1));
        STEP(guest, roomRequest(CancelApply, 1), 0, roomEvent(EventApplyCancel, 1, bob, alice, 1),
             everyone);
        STEP(late, request(ApplyMatch, Wire().u32(1).u32(alice)), 0,
             roomEvent(EventApply, 1, carol, alice, 2), everyone);
        ROUND_TRIP(late, roomRequest(RecruitMatch, 1), u32Reply(1));
        STEP(host, roomRequest(StartBattle, 1), 0,
             roomEvent(EventGameStart, 1, alice, 0, 0, "127.0.0.1:14141"), everyone);
        STEP(late, roomRequest(DropBattle, 1), 0, roomEvent(EventGameLeave, 1, carol, alice),
             everyone);
        STEP(host, roomRequest(EndBattle, 1), 0, roomEvent(EventGameEnd, 1, alice), everyone);
        STEP(guest, roomRequest(RecruitMatch, 1), 0, roomEvent(EventRecruitStart, 1, bob, 2, 2),
             everyone);
        STEP(guest, roomRequest(CancelRecruit, 1), 0, roomEvent(EventRecruitCancel, 1, bob),
             everyone);
    }

    void leavingEndsTheMatch_data()
    {
        QTest::addColumn<bool>("hostLeaves");
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("disconnects");
        QTest::addColumn<quint32>("ending");
        QTest::newRow("host leaves its recruit")
            << true << false << false << quint32(EventRecruitCancel);
        QTest::newRow("applicant disconnects")
            << false << false << true << quint32(EventApplyCancel);
        QTest::newRow("guest leaves the game") << false << true << false << quint32(EventGameLeave);
        QTest::newRow("host disconnects in game") << true << true << true << quint32(EventGameEnd);
    }

    void leavingEndsTheMatch()
    {
        QFETCH(bool, hostLeaves);
        QFETCH(bool, started);
        QFETCH(bool, disconnects);
        QFETCH(quint32, ending);
        auto host = std::make_unique<RawClient>();
        auto guest = std::make_unique<RawClient>();
        QVERIFY(host->login(server->port(), "alice", "secret"));
        QVERIFY(guest->login(server->port(), "bob", "secret"));
        ROUND_TRIP(*host, enterRequest(1), entered({alice}));
        ROUND_TRIP(*guest, enterRequest(1), entered({alice, bob}));
        EXPECT_BYTES(*host, roomEvent(EventEnter, 1, bob, 0, 0, "BOB"));
        const QVector<RawClient*> both{host.get(), guest.get()};
        STEP(*host, roomRequest(RecruitMatch, 1), 0, roomEvent(EventRecruitStart, 1, alice, 2, 2),
             both);
        STEP(*guest, request(ApplyMatch, Wire().u32(1).u32(alice)), 0,
             roomEvent(EventApply, 1, bob, alice, 2), both);
        if (started)
            STEP(*host, roomRequest(StartBattle, 1), 0,
                 roomEvent(EventGameStart, 1, alice, 0, 0, "127.0.0.1:14141"), both);
        std::unique_ptr<RawClient>& leaver = hostLeaves ? host : guest;
        RawClient& stayer = hostLeaves ? *guest : *host;
        const quint32 leaverId = hostLeaves ? alice : bob;

        if (disconnects)
            leaver.reset();
        else
            ROUND_TRIP(*leaver, roomRequest(LeaveRoom, 1), u32Reply(0));
        const bool namesHost = ending == EventApplyCancel || ending == EventGameLeave;
        EXPECT_BYTES(stayer, roomEvent(ending, 1, leaverId, namesHost ? quint32(alice) : 0u,
                                       ending == EventApplyCancel ? 1 : 0) +
                                 roomEvent(EventLeave, 1, leaverId));
        // Nothing of the match is left: the guest, whether it stayed or came back, can recruit.
        if (!guest) {
            guest = std::make_unique<RawClient>();
            QVERIFY(guest->login(server->port(), "bob", "secret"));
        }
        if (!hostLeaves)
            ROUND_TRIP(*guest, enterRequest(1), entered({alice, bob}));
        ROUND_TRIP(*guest, roomRequest(RecruitMatch, 1), u32Reply(0));
    }

    void duplicateLoginClosesTheOlder()
    {
        LOGIN(older, "bob");
        LOGIN(watcher, "carol");
        ROUND_TRIP(older, enterRequest(0), entered({bob}));
        ROUND_TRIP(watcher, enterRequest(0), entered({bob, carol}));
        LOGIN(newer, "bob");
        EXPECT_CLOSED(older, roomEvent(EventEnter, 0, carol, 0, 0, "CAROL") +
                                 notifyFrame(CloseNotice, Wire().u32(CloseDuplicateLogin)));
        EXPECT_BYTES(watcher, roomEvent(EventLeave, 0, bob));
        ROUND_TRIP(newer, enterRequest(0), entered({carol, bob}));
    }

    void globalMessageFromAdministratorsOnly()
    {
        LOGIN(admin, "alice");
        LOGIN(user, "bob");
        user.send(request(GlobalMessage, Wire().str("spam")));
        QVERIFY(server->waitForLog("refused: global message"));
        admin.send(request(GlobalMessage, Wire().str("メンテナンス")));
        for (RawClient* client : {&admin, &user})
            EXPECT_BYTES(*client, notifyFrame(NotifySystemMessage, Wire().str("メンテナンス")));
        RawClient later;
        QVERIFY(later.open(server->port()));
        ROUND_TRIP(later, request(Authenticate, Wire().str("carol").str("secret")),
                   replyFrame(Wire().u32(0).u32(carol).u32(4).str("メンテナンス")));
        admin.send(request(GlobalMessage, Wire().str("Welcome")));
    }

    void registrationThroughTheOutbox()
    {
        const QString address = "newcomer@example.org";
        RawClient client;
        QVERIFY(client.open(server->port()));
        ROUND_TRIP(client, request(RegisterMail, Wire().str(address)), u32Reply(0));
        const QString keyMail = latestMailTo(address);
        const QString key = QRegularExpression("登録キー: (\\S+)").match(keyMail).captured(1);
        QVERIFY2(!key.isEmpty(), qPrintable(keyMail));
        ROUND_TRIP(client, request(RegisterKey, Wire().str(key)), u32Reply(0));
        ROUND_TRIP(client, request(RegisterKey, Wire().str(key)), u32Reply(1));
        ROUND_TRIP(client, request(RegisterMail, Wire().str(address)), u32Reply(1));
        const QString accountMail = latestMailTo(address);
        const QString account =
            QRegularExpression("アカウント: (\\S+)").match(accountMail).captured(1);
        const QString password =
            QRegularExpression("パスワード: (\\S+)").match(accountMail).captured(1);
        QVERIFY2(!account.isEmpty() && !password.isEmpty(), qPrintable(accountMail));
        quint32 id = 0;
        RawClient user;
        QVERIFY2(user.login(server->port(), account, password, &id), qPrintable(user.failure()));
        ROUND_TRIP(user, request(GetName, Wire().u32(id)), replyFrame(Wire().u32(0).str("")));
        ROUND_TRIP(user, request(GetMail), replyFrame(Wire().str(address)));
    }

    void accountSettings()
    {
        {
            LOGIN(client, "erin");
            client.send(request(SetName, Wire().str("エリン")));
            client.send(request(SetMail, Wire().str("erin@example.org")));
            ROUND_TRIP(client, request(GetName, Wire().u32(erin)),
                       replyFrame(Wire().u32(0).str("エリン")));
            ROUND_TRIP(client, request(GetMail), replyFrame(Wire().str("erin@example.org")));
            ROUND_TRIP(client, request(SetPassword, Wire().str("secret").str("renewed")),
                       u32Reply(0));
        }
        RawClient refused;
        QVERIFY(refused.open(server->port()));
        ROUND_TRIP(refused, request(Authenticate, Wire().str("erin").str("secret")),
                   replyFrame(Wire().u32(1).u32(0).u32(1).str("")));
        RawClient renewed;
        QVERIFY2(renewed.login(server->port(), "erin", "renewed"), qPrintable(renewed.failure()));
        ROUND_TRIP(renewed, request(GetName, Wire().u32(erin)),
                   replyFrame(Wire().u32(0).str("エリン")));
    }
};

QTEST_GUILESS_MAIN(ServerProtocolTest)
#include "tst_serverprotocol.moc"
