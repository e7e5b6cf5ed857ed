// SPDX-License-Identifier: GPL-3.0-or-later
#include "addressgroup.h"
#include "support/lobbyframes.h"
#include "support/rawclient.h"
#include "testserver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

// The lobby, listening on every address, with two permanent rooms: 0 for game 0, 1 a locked chat
// room for two. Its rate limits are as low as the cases allow, so that they meet them at their
// edge.
static const QByteArray lobbyConfig =
    "[lobby]\nsystemMessage=Welcome\nmaxRoomsPerUser=2\n[accounts]\nlockAfterFailures=1\n[limits]\n"
    "connectionCountIntervalMs=0\nchatLinesPerSecond=2\nroomCreationsPerMinute=1\n"
    "registrationMailsPerHour=1\n[metrics]\nlisten=0\n[rooms]\nsize=2\n"
    "1\\title=Arena\n1\\capacity=10\n1\\gameId=0\n"
    "2\\title=Den\n2\\password=pw\n2\\capacity=2\n2\\gameId=chat\n";
// A second server, whose limits that guard the whole lobby are tight.
static const QByteArray tightConfig =
    "[lobby]\nmaxUsers=1\n[limits]\nconnectionsPerAddress=2\nfailedLoginsPerMinute=1\n"
    "sendQueueBytes=4096\nchatLinesPerSecond=1000000\nhelloTimeoutSeconds=1\n";
// Limits against clients that hold the server's resources, each as low as its cases allow.
// Clients bind loopback addresses of their own (127.0.N.x) to stand for other networks.
static const QByteArray abuseConfig =
    "[lobby]\nroomsPerAddress=1\n[limits]\nconnectionsPerAddress=2\nconnectionsBeforeLogin=4\n"
    "loginTimeoutSeconds=2\npartialFrameSeconds=1\nrefusalsPerMinute=5\nchatLinesPerSecond=1\n"
    "[log]\nrefusalSummarySeconds=1\n[rooms]\nsize=1\n1\\title=Hall\n1\\gameId=chat\n";
// One out of descriptors after a few dozen connections, which also reloads its configuration.
static const QByteArray roomyConfig = "[limits]\nconnectionsPerAddress=1000\n";
static const QByteArray welcome =
    "[lobby]\nsystemMessage=Welcome\n[limits]\nconnectionsPerAddress=1\n";

// Account numbers in the order of creation, and names; alice is the administrator.
enum : quint32 { alice = 1, bob, carol, dave };
static const QStringList names{"", "alice", "bob", "carol", "dave"};

static QHostAddress network(int n, int host = 1)
{
    return QHostAddress(QString("127.0.%1.%2").arg(n).arg(host));
}

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

// The stage (0 connected, 1 past the hello, 2 logged in), the bytes sent, and the server's last
// bytes before it closes; none for a protocol violation, logged as the row is named.
using Offence = std::tuple<int, QByteArray, QByteArray>;
// A subcommand's words, whether it succeeds, and a part of what it prints.
using Command = std::tuple<QStringList, bool, QString>;
// Networks one digit each, how many clients log in, and which connections get the hello.
using Connections = std::tuple<QByteArray, int, QByteArray>;
// The new file, what the log says of it, the message it sends (if any), and whether a second
// connection from one network is then accepted.
using Reload = std::tuple<QByteArray, QByteArray, QString, bool>;

#define PLAY(...) QCOMPARE(play({__VA_ARGS__}), 0)
#define LOGIN(client, account)                                                                     \
    RawClient client;                                                                              \
    QVERIFY(client.login(lobby.port(), names[account], account))

class ServerProtocolTest : public QObject
{
    Q_OBJECT

    TestServer lobby{SERVER_ON_ANY_ADDRESS}, tight, abuse, scarce{SERVER_WITH_FEW_DESCRIPTORS};
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
        QVERIFY(lobby.launch(lobbyConfig, names.mid(1)) &&
                tight.launch(tightConfig, names.mid(1, 2)) &&
                abuse.launch(abuseConfig, names.mid(1, 2)) &&
                scarce.launch(roomyConfig, names.mid(1, 1)));
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
        for (TestServer* server : {&tight, &abuse, &scarce})
            QCOMPARE(server->stop(), 0);
    }

    // Every test closes its clients; the next starts once the servers have let them go.
    void cleanup()
    {
        QTRY_COMPARE(lobby.connections(), 1);
        for (TestServer* server : {&tight, &abuse, &scarce})
            QTRY_COMPARE(server->connections(), 0);
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
        QTest::addColumn<Offence>("row");
        const auto bad = [](const char* logged, int stage, const QByteArray& bytes,
                            const QByteArray& lastBytes = {}) {
            QTest::newRow(logged) << Offence{stage, bytes, lastBytes};
        };
        bad("Quit before login", 0, clientHello() + frameBytes(QuitRequest{}),
            serverHello(0) + closing(CloseNormal));
        bad("other version", 0, frame(Wire().u32(helloMagic).u32(3)), serverHello(1));
        bad("other magic", 0, frame(Wire().u32(0x12345678).u32(2)), serverHello(2));
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
        QFETCH(Offence, row);
        const auto& [stage, bytes, lastBytes] = row;
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

    // What a monitoring scrape reads: text promtool accepts, with counters that follow the lobby.
    void metricsFollowTheLobby()
    {
        const QUrl url(QRegularExpression("metrics on (\\S+)").match(lobby.log()).captured(1));
        const auto scrape = [&url] {
            QNetworkAccessManager http;
            QNetworkReply* reply = http.get(QNetworkRequest(url));
            QSignalSpy(reply, &QNetworkReply::finished).wait(10000);
            return reply->readAll();
        };
        const auto value = [](const QByteArray& text, const QString& series) {
            const QRegularExpression line("^" + QRegularExpression::escape(series) + " (\\S+)$",
                                          QRegularExpression::MultilineOption);
            return line.match(QString::fromUtf8(text)).captured(1).toDouble();
        };
        RawClient stranger;
        QVERIFY(stranger.open(lobby.port(), true, QHostAddress("127.0.9.1")));
        const QByteArray before = scrape();
        // Two password checks fail; the first lets no more, so the third meets the lock.
        const QByteArray guess = authenticateRequest("nobody", "x");
        const QByteArray refused = authenticateReply(1, 0, 1, ""); // idle is the one user
        PLAY({&stranger, guess, refused}, {&stranger, guess, refused}, {&stranger, guess, refused},
             {&idle, enter(150), enterRefused(1)});
        const QByteArray after = scrape();
        const std::pair<QString, double> moved[] = {
            {"tileparlor_refusals_total{kind=\"enter room #\"}", 1},
            {"tileparlor_logins_total{outcome=\"unknown_account\"}", 2},
            {"tileparlor_requests_total{request=\"EnterRoom\"}", 1},
            {"tileparlor_limit_hits_total{limit=\"lockAfterFailures\"}", 1},
            {"tileparlor_password_check_seconds_count", 2},
            {"tileparlor_password_check_seconds_bucket{le=\"+Inf\"}", 2},
            // Each login that gets past the limits reads the account and the bans.
            {"tileparlor_store_operation_seconds_count{operation=\"read\"}", 4},
            {"tileparlor_store_errors_total{operation=\"read\"}", 0}};
        for (const auto& [series, by] : moved)
            QVERIFY2(value(after, series) - value(before, series) == by, qPrintable(series));
        QVERIFY(value(after, "tileparlor_users") >= 1);
        QVERIFY(value(after, "process_open_fds") > 0);
        QProcess promtool;
        promtool.start("promtool", {"check", "metrics"});
        promtool.write(after);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(30000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());
    }

    // An operator's commands through the control socket, as the subcommand "control" sends
    // them, and the refusals of the other subcommands.
    void operatorCommands_data()
    {
        QTest::addColumn<Command>("row");
        const auto refused = [](const char* name, const QStringList& words, const QString& why) {
            QTest::newRow(name) << Command{QStringList{"control"} + words, false, "error: " + why};
        };
        QTest::newRow("list") << Command{{"control", "list"}, true, "\ndave\tDAVE\t127.0.0.1\t"};
        refused("kick nobody", {"kick", "nobody"}, "nobody is not logged in");
        refused("unknown", {"banish"}, "commands are list");
        refused("mute without a time", {"mute", "bob", "soon"}, "mute needs SECONDS");
        refused("ban without a time", {"ban", "account", "bob"}, "ban takes account NAME");
        refused("ban of no range", {"ban", "range", "lobby", "60"}, "ban takes account");
        refused("unban the unbanned", {"unban", "account", "bob"}, "no ban on account bob");
        refused("unmute the unmuted", {"unmute", "bob"}, "bob is not muted");
        refused("controls", {"message", "a\x01"}, "control characters");
        QTest::newRow("newline in an account name") << Command{
            {"create-account", "carol\nadmin", "secret", "C"}, false, "control characters"};
    }
    void operatorCommands()
    {
        QFETCH(Command, row);
        const auto& [words, done, answered] = row;
        QByteArray answer;
        QCOMPARE(lobby.command(words, &answer), done);
        QVERIFY2(answer.contains(answered.toUtf8()), answer.constData());
    }

    // Failed logins lock bob (one a minute is allowed) until the operator lifts the lock of the
    // running server; whom a lock spares, such as bob at the address of his logins, is the
    // guard's (tst_serverlogins). A kick ends the connection named. Bans are stored and the login
    // checks them (the ranges an address falls in are the store's, tst_serverstore).
    void operatorLiftsLocksKicksAndBans()
    {
        RawClient guesser, later;
        const QByteArray refused = authenticateReply(1, 0, 1, ""); // idle is in the lobby
        QVERIFY(guesser.open(lobby.port(), true, network(5)));
        PLAY({&guesser, authenticateRequest("bob", "wrong"), refused},
             {&guesser, authenticateRequest("bob", "wrong"), refused},
             {&guesser, authenticateRequest("bob", "secret"), refused});
        EXPECT_LOG(lobby, "refused: login: account locked after failed logins: bob");
        QVERIFY(lobby.command({"unlock-account", "bob"}));
        EXPECT_LOG(lobby, "account bob: failed logins forgotten and lock lifted");
        QVERIFY(later.login(lobby.port(), names[bob], bob, network(5)));
        LOGIN(victim, carol);
        LOGIN(online, bob);
        QVERIFY(lobby.command({"control", "kick", "Carol", "spam"}));
        QVERIFY(victim.expectClosed(closing(CloseByOperator)));
        EXPECT_LOG(lobby, "closed: kicked by an operator: spam");
        // The audit keeps who did what to whom, and why.
        QByteArray audit;
        QTRY_VERIFY(lobby.command({"control", "audit", "1"}, &audit) &&
                    audit.contains("\tkick\tCarol\tspam\n"));
        // Only the server's owner may open it: no permission for its group (0x70) or others (7).
        QCOMPARE(QFileInfo(lobby.data.filePath("control")).permissions() & 0x77, 0);
        QVERIFY(lobby.command({"control", "ban", "account", "BOB", "forever", "cheating"}));
        QVERIFY(online.expectClosed(closing(CloseByOperator)));
        RawClient again, back;
        QVERIFY(!again.login(lobby.port(), names[bob], bob));
        QByteArray listed;
        QVERIFY(lobby.command({"control", "bans"}, &listed));
        QVERIFY2(listed.contains("account\tBOB\tforever\tcheating\n"), listed.constData());
        QVERIFY(lobby.command({"control", "unban", "account", "bob"}));
        QVERIFY(back.login(lobby.port(), names[bob], bob));
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
        // An operator's mute refuses a line before it counts against the rate.
        QVERIFY(lobby.command({"control", "mute", "Bob", "60", "flooding"}));
        guest.send(frameBytes(SpeakRequest{2, "muted"}));
        EXPECT_LOG(lobby, "refused: chat line in room 2: muted by an operator");
        QVERIFY(lobby.command({"control", "unmute", "bob"}));
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
        const QByteArray notice = frameBytes(SystemMessageNotification{"メンテナンス"});
        RawClient later;
        QVERIFY(later.open(lobby.port()));
        const QByteArray message = frameBytes(GlobalMessageRequest{"メンテナンス"});
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
        // A ban is the database's: it holds after a restart.
        QVERIFY(tight.command({"control", "ban", "account", "alice", "forever"}));
        QString error;
        QVERIFY(tight.stop() == 0 && tight.start(error));
        RawClient refused;
        QVERIFY(refused.open(tight.port()));
        PLAY({&refused, authenticateRequest("alice", "secret"), authenticateReply(1, 0, 0, "")});
    }

    // IPv4 by the prefix given, IPv4-mapped as IPv4, IPv6 by /64 whatever the prefix.
    void addressGroups()
    {
        for (const auto& [address, prefix, group] :
             {std::tuple{"192.0.2.77", 24, "192.0.2.0/24"},
              {"198.51.100.7", 20, "198.51.96.0/20"},
              {"203.0.113.9", 32, "203.0.113.9/32"},
              {"::ffff:192.0.2.77", 24, "192.0.2.0/24"},
              {"2001:db8:1:2:3:4:5:6", 24, "2001:db8:1:2::/64"}})
            QCOMPARE(addressGroup(QHostAddress(address), prefix), QString(group));
    }

    // Connections from 127.0.N.x, one digit N each, the first ones logged in: which of them get
    // the hello (+) and which do not (-). Networks apart count apart: see addressGroups.
    void connectionLimits_data()
    {
        QTest::addColumn<Connections>("row");
        QTest::newRow("two per network") << Connections{"111", 0, "++-"};
        QTest::newRow("four before login") << Connections{"12345", 0, "++++-"};
        QTest::newRow("users do not count") << Connections{"123456", 2, "++++++"};
    }

    void connectionLimits()
    {
        QFETCH(Connections, row);
        const auto& [networks, loggedIn, expected] = row;
        std::vector<RawClient> clients(networks.size());
        QByteArray accepted;
        for (int i = 0; i < networks.size(); ++i) {
            const quint32 user = i < loggedIn ? quint32(i + 1) : 0;
            const QHostAddress from = network(networks[i] - '0', i + 1);
            accepted += clients[i].login(abuse.port(), names[user], user, from) ? '+' : '-';
        }
        QCOMPARE(accepted, expected);
    }

    // A client that holds its connection without getting anywhere is cut off, past the hello or
    // in half a frame, while a user who logged in before them and stays silent is not.
    void deadlines()
    {
        RawClient silent, idler, stalling;
        QVERIFY(silent.login(abuse.port(), names[alice], alice, network(1)));
        QVERIFY(idler.open(abuse.port(), true, network(2)) &&
                stalling.login(abuse.port(), names[bob], bob, network(3)));
        stalling.send(frameBytes(GetCountRequest{}).left(5));
        QVERIFY(idler.expectClosed() && stalling.expectClosed());
        EXPECT_LOG(abuse, "closed: no login in time");
        EXPECT_LOG(abuse, "closed: a frame unfinished for 1 s");
        PLAY({&silent, frameBytes(GetCountRequest{}), u32Reply(200)});
    }

    // A burst of chat lines over the rate: the first refusal is logged, the rest summed up;
    // past five refusals the client is sent away.
    void refusals()
    {
        const QByteArray refused = "refused: chat line in room 0: rate limit";
        const qsizetype before = abuse.log().count(refused);
        RawClient chatty;
        QVERIFY(chatty.login(abuse.port(), names[alice], alice, network(1)));
        PLAY({&chatty, enter(0), enteredReply({alice})},
             {&chatty, frameBytes(SpeakRequest{0, "hi"}).repeated(8),
              roomEvent(EventSpeak, alice, 0, 0, "hi")});
        QVERIFY(chatty.expectClosed(closing(CloseServerShutdown)));
        EXPECT_LOG(abuse, "5 more refusals of \"chat line in room #: rate limit\"");
        QCOMPARE(abuse.log().count(refused), before + 1);
    }

    // Values a client chose reach the log with their control characters escaped: a newline, a
    // terminal escape, DEL, a C1 control, a line separator and the backslash itself.
    void logEscapes()
    {
        const QString name = "a\nz\x1bz\x7fz\u0085z\u2028z\\z";
        RawClient guesser;
        QVERIFY(guesser.open(abuse.port(), true, network(1)));
        PLAY({&guesser, authenticateRequest(name, "x"), authenticateReply(1, 0, 0, {})});
        EXPECT_LOG(abuse, "refused: login: unknown account a\\nz\\x1bz\\x7fz\\x85z\\u2028z\\\\z");
    }

    // The creator of a room holds it for its network until it leaves; another network's is
    // apart.
    void roomsPerNetwork()
    {
        RawClient holder, other, neighbour;
        QVERIFY(holder.login(abuse.port(), names[alice], alice, network(1, 1)) &&
                other.login(abuse.port(), names[bob], bob, network(2, 2)));
        const QByteArray room = create("t", 2, chatOnlyGameId);
        PLAY({&holder, room, u32Reply(1)}, {&other, room, u32Reply(2)});
        // Bob again, from the holder's network: his first connection, and its room, go.
        QVERIFY(neighbour.login(abuse.port(), names[bob], bob, network(1, 3)));
        PLAY({&neighbour, room, u32Reply(noRoom)}, {&holder, frameBytes(LeaveRoomRequest{1}), ok},
             {&neighbour, room, u32Reply(1)});
    }

    // Out of descriptors, the server stops accepting for a while, once logged, and takes the
    // clients that waited as soon as descriptors are free again.
    void acceptPausesAtDescriptorLimit()
    {
        std::vector<QTcpSocket> flood(80);
        for (QTcpSocket& socket : flood) {
            socket.connectToHost(QHostAddress::LocalHost, scarce.port());
            QVERIFY(socket.waitForConnected(10000));
            socket.write(clientHello());
        }
        EXPECT_LOG(scarce, "accepting paused");
        flood.clear();
        RawClient later;
        QVERIFY(later.open(scarce.port()));
        QCOMPARE(scarce.log().count("accepting paused"), 1);
    }

    // SIGHUP reads the configuration again: what changed applies at once, what waits for a
    // restart is named, and a bad file changes nothing. Each row starts from a lobby that says
    // "Welcome" and takes one connection per network, and whose data folder is still the one the
    // command line gave, where the operator's requests are seen.
    void reloadOnHangup_data()
    {
        QTest::addColumn<Reload>("row");
        QTest::newRow("message and limit") << Reload{"[lobby]\nsystemMessage=Maintenance\n",
                                                     "configuration reloaded", "Maintenance", true};
        QTest::newRow("for a restart")
            << Reload{"[lobby]\nsystemMessage=Welcome\n[database]\nurl=sqlite:x.db\n"
                      "[accounts]\nlockSeconds=5\n",
                      "wait for a restart: database/url, accounts/lockSeconds\n",
                      {},
                      true};
        QTest::newRow("bad value")
            << Reload{"[lobby]\nsystemMessage=Other\n[limits]\nconnectionsPerAddress=0\n",
                      "configuration not reloaded",
                      {},
                      false};
    }

    void reloadOnHangup()
    {
        QFETCH(Reload, row);
        const auto& [ini, logged, message, secondAccepted] = row;
        QVERIFY(scarce.writeConfig(welcome) && scarce.hangUp("configuration reloaded"));
        QVERIFY(scarce.logsAfter("account alice: failed logins forgotten", [&] {
            return scarce.command({"unlock-account", "alice"});
        }));
        RawClient watcher, second;
        QVERIFY(watcher.login(scarce.port(), names[alice], alice, network(1, 1)));
        QVERIFY(scarce.writeConfig(ini) && scarce.hangUp(logged));
        // The notification, if any, comes before the reply to a request sent after it.
        const QByteArray notice =
            message.isEmpty() ? QByteArray() : frameBytes(SystemMessageNotification{message});
        PLAY({&watcher, frameBytes(GetCountRequest{}), notice + u32Reply(200)});
        QCOMPARE(second.open(scarce.port(), true, network(1, 2)), secondAccepted);
    }
};

QTEST_GUILESS_MAIN(ServerProtocolTest)
#include "tst_serverprotocol.moc"
