#include "locallobbyserver.h"
#include "support/lobbyframes.h"
#include "support/rawclient.h"

#include <QTemporaryDir>
#include <QtTest>

// The lobby, listening on every address, with two permanent rooms: 0 for game 0, 1 a locked chat
// room for two. Its rate limits are as low as the cases allow, so that they meet them at their
// edge.
static const QByteArray lobbyConfig =
    "[lobby]\nsystemMessage=Welcome\nmaxRoomsPerUser=2\n[limits]\nconnectionCountIntervalMs=0\n"
    "chatLinesPerSecond=2\nroomCreationsPerMinute=1\nregistrationMailsPerHour=1\n[rooms]\nsize=2\n"
    "1\\title=Arena\n1\\capacity=10\n1\\gameId=0\n"
    "2\\title=Den\n2\\password=pw\n2\\capacity=2\n2\\gameId=chat\n";
// A second server, whose limits that guard the whole lobby are tight.
static const QByteArray tightConfig =
    "[lobby]\nmaxUsers=1\n[limits]\nconnectionsPerAddress=2\nfailedLoginsPerMinute=1\n"
    "sendQueueBytes=4096\nchatLinesPerSecond=1000000\nhelloTimeoutSeconds=1\n";

// Account numbers in the order of creation, and names; alice is the administrator.
enum : quint32 { alice = 1, bob, carol, dave };
static const QStringList names{"", "alice", "bob", "carol", "dave"};

// One step of a transcript: a client sends its bytes (if any) and receives the reply next; then
// each of the others, the sender too if named, receives the event next.
struct Step {
    RawClient* from;
    QByteArray sent, reply;
    QVector<RawClient*> others = {};
    QByteArray event = {};
};

// The number of the first step that went otherwise, 0 if all went as written.
static int play(const std::vector<Step>& steps)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        steps[i].from->send(steps[i].sent);
        bool met = steps[i].from->expect(steps[i].reply);
        for (RawClient* other : steps[i].others)
            met = met && other->expect(steps[i].event);
        if (!met)
            return int(i) + 1;
    }
    return 0;
}

#define PLAY(...) QCOMPARE(play({__VA_ARGS__}), 0)
#define EXPECT_LOG(server, text) QTRY_VERIFY((server).log().contains(text))
#define LOGIN(client, account)                                                                     \
    RawClient client;                                                                              \
    QVERIFY(client.login(lobby.port(), names[account], account))

class ServerProtocolTest : public QObject
{
    Q_OBJECT

    QTemporaryDir lobbyData, tightData;
    LocalLobbyServer lobby{SERVER_ON_ANY_ADDRESS, lobbyData.path()};
    LocalLobbyServer tight{SERVER_PROGRAM, tightData.path()};
    // Logged in from the start to the end: the bystander that must notice nothing.
    RawClient idle;
    const QByteArray ok = u32Reply(0), none;

    static QByteArray u32Reply(quint32 value) { return frameBytes(ResultReply{value}); }
    static QByteArray enterRefused(quint32 result) { return frameBytes(EnterRoomReply{result}); }
    static QByteArray closing(quint32 why) { return frameBytes(CloseNotification{why}); }

    static QByteArray enter(quint32 roomId, const QString& password = {})
    {
        return frameBytes(EnterRoomRequest{roomId, password});
    }

    static QByteArray create(const QString& title, quint32 capacity = 2, quint32 gameId = 0,
                             const QString& password = {})
    {
        return frameBytes(CreateRoomRequest{title, password, capacity, gameId});
    }

    // A room event in room 0 unless said otherwise.
    static QByteArray roomEvent(quint32 kind, quint32 user, quint32 other = 0, quint32 value = 0,
                                const QString& text = {}, quint32 room = 0)
    {
        return roomEventFrame(room, {kind, user, other, text, value});
    }

    static QByteArray enters(quint32 user, quint32 room = 0)
    {
        return roomEvent(EventEnter, user, 0, 0, names[user].toUpper(), room);
    }

  private slots:
    void initTestCase()
    {
        // Accounts of password "secret", one at a time so that their numbers follow the names.
        const auto start = [](LocalLobbyServer& server, const QByteArray& config,
                              const QStringList& names) {
            QString error;
            bool done = server.writeConfig(config);
            for (const QString& name : names)
                done = done && server.createAccounts(
                                   {{name, "secret", name.toUpper(), {}, name == "alice"}}, error);
            QVERIFY2(done && server.start(error), qPrintable(error));
        };
        start(lobby, lobbyConfig, names.mid(1));
        start(tight, tightConfig, names.mid(1, 2));
        QVERIFY(idle.login(lobby.port(), names[dave], dave));
    }

    // Every connection, logged in or not, hears why it ends; the servers exit 0 (and, under the
    // sanitizers, leak nothing).
    void cleanupTestCase()
    {
        RawClient visitor;
        QVERIFY(visitor.open(lobby.port()));
        QCOMPARE(lobby.stop(), 0);
        for (RawClient* client : {&idle, &visitor})
            QVERIFY(client->expectClosed(closing(CloseServerShutdown)));
        QVERIFY(lobby.log().contains("metrics connections=0 users=0"));
        QCOMPARE(tight.stop(), 0);
    }

    // Every test closes its clients; the next starts once the servers have let them go.
    void cleanup()
    {
        for (LocalLobbyServer* server : {&lobby, &tight})
            QTRY_COMPARE(server->log().count(" opened") - server->log().count(" closed: "),
                         server == &lobby ? 1 : 0);
    }

    void connectionCountReachesEveryone()
    {
        RawClient watcher(true), other;
        QVERIFY(watcher.login(lobby.port(), names[alice], alice) &&
                other.login(lobby.port(), names[bob], bob));
        other.socket.disconnectFromHost();
        for (quint32 count : {2, 3, 2})
            PLAY({&watcher, none, frameBytes(ConnectionCountNotification{count})});
    }

    // What the server sends last before it closes the connection, at any stage of it.
    void badInputEndsTheConnection_data()
    {
        QTest::addColumn<int>("stage"); // 0 connected, 1 past the hello, 2 logged in
        QTest::addColumn<QByteArray>("bytes");
        // None: a protocol violation, logged as the row is named.
        QTest::addColumn<QByteArray>("lastBytes");
        const auto bad = [](const char* logged, int stage, const QByteArray& bytes) {
            QTest::newRow(logged) << stage << bytes << QByteArray();
        };
        QTest::newRow("Quit before login") << 0 << clientHello() + frameBytes(QuitRequest{})
                                           << serverHello(0) + closing(CloseNormal);
        QTest::newRow("other version")
            << 0 << frame(Wire().u32(helloMagic).u32(3)) << serverHello(1);
        QTest::newRow("other magic") << 0 << frame(Wire().u32(0x12345678).u32(2)) << serverHello(2);
        bad("frame length 1025", 2, Wire().u32(1025));
        bad("unknown request code 25", 2, request(25));
        bad("field userId runs past the payload", 2, request(GetName));
        bad("request 12 before login", 1, frameBytes(GetCountRequest{}));
        bad("command 3 before the reply", 1,
            authenticateRequest("alice", "secret") + frameBytes(RegisterKeyRequest{"k"}));
        bad("login on a connection already logged in", 2, authenticateRequest("alice", "secret"));
        bad("string title of 144 bytes", 2, create(QString(48, QChar(0x3042))));
        bad("room password longer than 8", 2, create("t", 2, 0, "123456789"));
        bad("string name of 120 bytes", 2, frameBytes(SetNameRequest{QString(120, 'n')}));
        bad("chat line of 129 characters", 2, frameBytes(SpeakRequest{0, QString(129, 'c')}));
    }

    void badInputEndsTheConnection()
    {
        QFETCH(int, stage);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, lastBytes);
        RawClient offender;
        QVERIFY(stage == 2 ? offender.login(lobby.port(), names[carol], carol)
                           : offender.open(lobby.port(), stage > 0));
        offender.send(bytes);
        QVERIFY(offender.expectClosed(lastBytes));
        EXPECT_LOG(lobby, lastBytes.isEmpty()
                              ? "protocol violation: " + QByteArray(QTest::currentDataTag())
                              : "");
        PLAY({&idle, frameBytes(GetCountRequest{}), u32Reply(200)});
    }

    void refusedRequests()
    {
        RawClient visitor;
        QVERIFY(visitor.open(lobby.port()));
        std::vector<Step> steps{
            {&idle, getNameRequest(999), nameReply(1, "")},
            {&idle, getRoomInfoRequest(0), roomInfoReply({"Arena", 0, 10, 0, 0, 1})},
            {&idle, enter(150), enterRefused(1)},
            {&idle, enter(1, "no"), enterRefused(3)},
            {&idle, frameBytes(SetPasswordRequest{"wrong", "new"}), u32Reply(1)},
            {&idle, frameBytes(SetPasswordRequest{"secret", QString(72, 'p')}), u32Reply(2)},
            {&idle, frameBytes(RegisterMailRequest{QString(186, 'm') + "@a.org"}), u32Reply(2)},
            // One mail an hour from this address: the next new address is refused.
            {&visitor, frameBytes(RegisterMailRequest{"newcomer@example.org"}), ok},
            {&visitor, frameBytes(RegisterMailRequest{"second@example.org"}), u32Reply(1)},
        };
        for (const QByteArray& sent :
             {create("t", 1), create("t", 101), create("t", 2, 7), create("")})
            steps.push_back({&idle, sent, u32Reply(noRoom)});
        for (const QByteArray& sent :
             {frameBytes(LeaveRoomRequest{}), frameBytes(RecruitMatchRequest{}),
              frameBytes(CancelRecruitRequest{}), frameBytes(CancelApplyRequest{}),
              frameBytes(StartBattleRequest{}), frameBytes(EndBattleRequest{}),
              frameBytes(DropBattleRequest{})})
            steps.push_back({&idle, sent, u32Reply(1)});
        QCOMPARE(play(steps), 0);
        EXPECT_LOG(lobby, "refused: registration: mail rate limit");
    }

    void roomLifecycle()
    {
        LOGIN(owner, alice);
        LOGIN(guest, bob);
        const QByteArray teaRoom = create("茶室", 3, chatOnlyGameId);
        PLAY({&owner, teaRoom, u32Reply(2)},
             {&guest, enter(2), enteredReply({alice, bob}), {&owner}, enters(bob, 2)},
             {&owner, teaRoom, u32Reply(noRoom)},
             // The room list's walk: each answer names the next existing room.
             {&owner, getRoomInfoRequest(1), roomInfoReply({"Den", 0, 2, chatOnlyGameId, 1, 2})},
             {&owner, getRoomInfoRequest(2), roomInfoReply({"茶室", 2, 3})});
        EXPECT_LOG(lobby, "refused: room creation: rate limit");
        // Two lines a second: the third of a burst goes nowhere, not even before the next reply.
        for (const char* line : {"こんにちは", "2", "3"})
            guest.send(frameBytes(SpeakRequest{2, line}));
        const QByteArray heard = roomEventFrame(2, {EventSpeak, bob, 0, "こんにちは"}) +
                                 roomEventFrame(2, {EventSpeak, bob, 0, "2"});
        const QByteArray gone = roomInfoReply({"", 0, 0, chatOnlyGameId, 0, noRoom, 1});
        const QByteArray leave = frameBytes(LeaveRoomRequest{2});
        PLAY({&guest, none, heard, {&owner}, heard},
             {&guest, leave, ok, {&owner}, roomEventFrame(2, {EventLeave, bob})},
             {&owner, leave, ok}, {&owner, getRoomInfoRequest(2), gone});
        EXPECT_LOG(lobby, "refused: chat line in room 2: rate limit");
        // A global message comes from administrators only; it also greets those who log in later.
        guest.send(frameBytes(GlobalMessageRequest{"spam"}));
        EXPECT_LOG(lobby, "refused: global message");
        const QByteArray message = frameBytes(GlobalMessageRequest{"メンテナンス"});
        const QByteArray notice = frameBytes(SystemMessageNotification{"メンテナンス"});
        RawClient later;
        QVERIFY(later.open(lobby.port()));
        PLAY({&owner, message, notice, {&guest, &idle}, notice},
             {&later, authenticateRequest("carol", "secret"),
              authenticateReply(0, carol, 4, "メンテナンス")});
    }

    // A match from recruitment to its end, then its host disconnects in the next one: the others
    // learn of the end of the game first and of the host's leaving last.
    void matchFlow()
    {
        LOGIN(host, alice);
        LOGIN(guest, bob);
        LOGIN(late, carol);
        const QVector<RawClient*> all{&host, &guest, &late};
        const QByteArray apply = frameBytes(ApplyMatchRequest{0, alice});
        const QByteArray recruit = frameBytes(RecruitMatchRequest{}),
                         start = frameBytes(StartBattleRequest{});
        // The host's address as seen on an IPv6 socket is IPv4-mapped; the text is plain IPv4.
        const QByteArray started = roomEvent(EventGameStart, alice, 0, 0, "127.0.0.1:14141");
        PLAY({&host, enter(0), enteredReply({alice})},
             {&guest, enter(0), enteredReply({alice, bob})},
             {&late, enter(0), enteredReply({alice, bob, carol})},
             {&host, none, enters(bob) + enters(carol)}, {&guest, none, enters(carol)},
             // Refusals to enter: a full room, a room it is in, one room more than allowed.
             {&host, enter(1, "pw"), enteredReply({alice})},
             {&guest, enter(1, "pw"), enteredReply({alice, bob})}, {&host, none, enters(bob, 1)},
             {&late, enter(1, "pw"), enterRefused(2)}, {&late, enter(0), enterRefused(4)},
             {&late, create("t"), u32Reply(2)}, {&late, enter(1, "pw"), enterRefused(5)},
             // The match.
             {&host, recruit, ok, all, roomEvent(EventRecruitStart, alice, 2, 2)},
             {&host, start, u32Reply(1)},
             {&guest, apply, ok, all, roomEvent(EventApply, bob, alice, 2)},
             {&late, apply, u32Reply(1)},
             {&guest, frameBytes(CancelApplyRequest{}), ok, all,
              roomEvent(EventApplyCancel, bob, alice, 1)},
             {&late, apply, ok, all, roomEvent(EventApply, carol, alice, 2)},
             {&late, recruit, u32Reply(1)}, {&host, start, ok, all, started},
             {&late, frameBytes(DropBattleRequest{}), ok, all,
              roomEvent(EventGameLeave, carol, alice)},
             {&host, frameBytes(EndBattleRequest{}), ok, all, roomEvent(EventGameEnd, alice)},
             {&guest, recruit, ok, all, roomEvent(EventRecruitStart, bob, 2, 2)},
             {&guest, frameBytes(CancelRecruitRequest{}), ok, all,
              roomEvent(EventRecruitCancel, bob)},
             // the host disconnects in the game (leaving the later room first):
             {&host, recruit, ok, all, roomEvent(EventRecruitStart, alice, 2, 2)},
             {&guest, apply, ok, all, roomEvent(EventApply, bob, alice, 2)},
             {&host, start, ok, all, started});
        host.socket.disconnectFromHost();
        const QByteArray gameOver =
            roomEvent(EventGameEnd, alice) + roomEventFrame(0, {EventLeave, alice});
        PLAY({&guest, none, roomEventFrame(1, {EventLeave, alice}), {&guest, &late}, gameOver});
        // A second login of bob closes the older connection, which leaves the rooms it is in.
        LOGIN(newer, bob);
        QVERIFY(guest.expectClosed(closing(CloseDuplicateLogin)));
        PLAY({&late, none, roomEventFrame(0, {EventLeave, bob})},
             {&newer, enter(0), enteredReply({carol, bob})});
    }

    // The tight server, in order: the offender is refused or cut off while the others notice
    // nothing.
    void tightLimits()
    {
        RawClient silent, inside, outside, third;
        QVERIFY(silent.open(tight.port(), false) && silent.expectClosed());
        EXPECT_LOG(tight, "no hello in time");
        // One user, two connections.
        QVERIFY(inside.login(tight.port(), names[alice], alice) && outside.open(tight.port()));
        PLAY({&outside, authenticateRequest("bob", "secret"), authenticateReply(1, 0, 1, "")});
        EXPECT_LOG(tight, "refused: login: the lobby holds the most users");
        QVERIFY(!third.open(tight.port()) && third.expectClosed());
        EXPECT_LOG(tight, "too many connections from it");
        // A user that stops reading: its own chat lines come back to it; the kernel's buffers
        // fill first, then the server's queue for it.
        PLAY({&inside, create("t"), ok});
        inside.reading = false;
        inside.socket.setReadBufferSize(1);
        const QByteArray line = frameBytes(SpeakRequest{0, QString(128, QChar(0x3042))});
        const QByteArray cutOff = "closed: send queue over 4096 bytes";
        for (int i = 0; i < 2000 && !tight.log().contains(cutOff); ++i)
            inside.send(line.repeated(100));
        EXPECT_LOG(tight, cutOff);
        // One failed login a minute: after the second, even the right password is refused.
        PLAY({&outside, frameBytes(RegisterKeyRequest{"k"}), u32Reply(1)},
             {&outside, authenticateRequest("bob", "wrong"), authenticateReply(1, 0, 0, "")},
             {&outside, authenticateRequest("bob", "again"), authenticateReply(1, 0, 0, "")},
             {&outside, authenticateRequest("bob", "secret"), authenticateReply(1, 0, 0, "")});
        EXPECT_LOG(tight, "refused: login: address barred");
    }
};

QTEST_GUILESS_MAIN(ServerProtocolTest)
#include "tst_serverprotocol.moc"
