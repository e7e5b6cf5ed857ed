#include "locallobbyserver.h"
#include "support/lobbyframes.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <memory>

// The lobby, listening on every address, with two permanent rooms: 0 for game 0, 1 a locked chat
// room for two. Its rate limits are as low as the cases allow, so that they meet them at their
// edge.
static const QByteArray lobbyConfig = R"(
[lobby]
systemMessage=Welcome
maxRoomsPerUser=2
[limits]
connectionCountIntervalMs=0
chatLinesPerSecond=2
roomCreationsPerMinute=1
registrationMailsPerHour=1
[rooms]
size=2
1\title=Arena
1\capacity=10
1\gameId=0
2\title=Den
2\password=pw
2\capacity=2
2\gameId=chat
)";

// A second server, whose limits that guard the whole lobby are tight.
static const QByteArray tightConfig = R"(
[lobby]
maxUsers=1
[limits]
connectionsPerAddress=2
failedLoginsPerMinute=1
sendQueueBytes=4096
chatLinesPerSecond=1000000
helloTimeoutSeconds=1
)";

// Account numbers in the order of creation; alice is the administrator.
enum : quint32 { alice = 1, bob, carol, dave, erin, newcomer };

static QByteArray roomRequest(quint32 code, quint32 roomId, const QByteArray& more = {})
{
    return request(code, Wire().u32(roomId).raw(more));
}

static QByteArray enterRequest(quint32 roomId, const QString& password = {})
{
    return roomRequest(EnterRoom, roomId, Wire().str(password));
}

static QByteArray u32Reply(quint32 value)
{
    return replyFrame(Wire().u32(value));
}

static QByteArray entered(const QVector<quint32>& members)
{
    QByteArray bytes = replyFrame(Wire().u32(0).u32(quint32(members.size())));
    for (quint32 member : members)
        bytes += u32Reply(member);
    return bytes;
}

static QByteArray enterRefused(quint32 result)
{
    return replyFrame(Wire().u32(result).u32(0));
}

// A lobby client at the byte level: sends any bytes and checks the server's bytes exactly.
// Connection-count notifications reach everyone at every login and logout; unless kept, they are
// dropped so that the other streams stay exact.
class RawClient
{
  public:
    explicit RawClient(bool keepCounts = false) : keepCounts(keepCounts) {}

    bool open(quint16 port, bool hello = true)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        failure = "cannot connect";
        if (!socket.waitForConnected(10000))
            return false;
        if (hello)
            send(clientHello());
        return !hello || expect(serverHello(0));
    }

    bool login(quint16 port, const QString& account, const QString& password = "secret")
    {
        if (!open(port))
            return false;
        send(authenticateRequest(account, password));
        waitFor(9);
        const qsizetype length = 4 + qFromLittleEndian<quint32>(received.data());
        waitFor(length);
        failure = "login refused: " + received.toHex(' ');
        if (received.size() < length || received.mid(4, 5) != Wire().byte(0).u32(0).bytes())
            return false;
        received.remove(0, length);
        return true;
    }

    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    bool expect(const QByteArray& bytes)
    {
        waitFor(bytes.size());
        failure = "expected " + bytes.toHex(' ') + "\nreceived " + received.toHex(' ');
        if (!received.startsWith(bytes))
            return false;
        received.remove(0, bytes.size());
        return true;
    }

    // These bytes, then the end of the connection.
    bool expectClosed(const QByteArray& lastBytes = {})
    {
        waitFor(1 << 30);
        return expect(lastBytes) && received.isEmpty() &&
               socket.state() != QAbstractSocket::ConnectedState;
    }

    // Takes no more bytes from the operating system, as a client that hangs would.
    void stopReading()
    {
        reading = false;
        socket.setReadBufferSize(1);
    }

    void close() { socket.disconnectFromHost(); }

    QByteArray failure;

  private:
    // Until that many bytes or the end of the connection, for at most 10 s.
    void waitFor(qsizetype bytes)
    {
        const QDeadlineTimer deadline(10000);
        bool open = true;
        while (reading && open && received.size() < bytes && !deadline.hasExpired()) {
            open = socket.state() == QAbstractSocket::ConnectedState;
            socket.waitForReadyRead(20);
            received += socket.readAll();
            const QByteArray count = notifyFrame(NotifyConnectionCount).mid(4);
            for (qsizetype at = 0; !keepCounts && received.size() - at >= 4;) {
                const qsizetype length = qFromLittleEndian<quint32>(received.data() + at) + 4;
                if (length == 13 && received.mid(at + 4, 5) == count)
                    received.remove(at, 13);
                else
                    at += length;
            }
        }
    }

    QTcpSocket socket;
    QByteArray received;
    bool keepCounts;
    bool reading = true;
};

#define EXPECT_BYTES(client, bytes) QVERIFY2((client).expect(bytes), (client).failure.constData())
#define ROUND_TRIP(client, sent, reply)                                                            \
    do {                                                                                           \
        (client).send(sent);                                                                       \
        EXPECT_BYTES(client, reply);                                                               \
    } while (false)
#define EXPECT_LOG(server, text) QTRY_VERIFY((server).log().contains(text))
#define LOGIN(client, account)                                                                     \
    RawClient client;                                                                              \
    QVERIFY2(client.login(lobby.port(), account), client.failure.constData())
// A command whose reply comes first, then the room event it caused, seen by every member.
#define STEP(actor, sent, event, members)                                                          \
    do {                                                                                           \
        ROUND_TRIP(actor, sent, u32Reply(0));                                                      \
        for (RawClient * member : members)                                                         \
            EXPECT_BYTES(*member, event);                                                          \
    } while (false)

class ServerProtocolTest : public QObject
{
    Q_OBJECT

    QTemporaryDir lobbyData, tightData;
    LocalLobbyServer lobby{SERVER_ON_ANY_ADDRESS, lobbyData.path()};
    LocalLobbyServer tight{SERVER_PROGRAM, tightData.path()};
    std::unique_ptr<RawClient> idleClient;

    // Accounts of password "secret", one at a time so that their numbers follow the names.
    static bool start(LocalLobbyServer& server, const QByteArray& config, const QStringList& names)
    {
        QString error;
        bool done = server.writeConfig(config);
        for (const QString& name : names)
            done = done && server.createAccounts(
                               {{name, "secret", name.toUpper(), {}, name == "alice"}}, error);
        if (!done || !server.start(error))
            qWarning().noquote() << error;
        return done && server.isRunning();
    }

    // Logged in from its first use to the end: the bystander that must notice nothing.
    RawClient& idle()
    {
        if (!idleClient) {
            idleClient = std::make_unique<RawClient>();
            idleClient->login(lobby.port(), "dave");
        }
        return *idleClient;
    }

    QString mails() const
    {
        QString text;
        for (QDirIterator it(lobbyData.filePath("outbox"), {"*.eml"}); it.hasNext();) {
            QFile file(it.next());
            text += file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "";
        }
        return text;
    }

  private slots:
    void initTestCase()
    {
        QVERIFY(start(lobby, lobbyConfig, {"alice", "bob", "carol", "dave", "erin"}));
        QVERIFY(start(tight, tightConfig, {"alice", "bob"}));
    }

    // Every connection, logged in or not, hears why it ends; the servers exit 0 (and, under the
    // sanitizers, leak nothing).
    void cleanupTestCase()
    {
        RawClient visitor;
        QVERIFY(visitor.open(lobby.port()));
        QCOMPARE(lobby.stop(), 0);
        for (RawClient* client : {&idle(), &visitor})
            QVERIFY(
                client->expectClosed(notifyFrame(CloseNotice, Wire().u32(CloseServerShutdown))));
        QVERIFY(lobby.log().contains("metrics connections=0 users=0"));
        QCOMPARE(tight.stop(), 0);
    }

    // Every test closes its clients; the next starts once the servers have let them go.
    void cleanup()
    {
        for (LocalLobbyServer* server : {&lobby, &tight})
            QTRY_COMPARE(server->log().count(" opened") - server->log().count(" closed: "),
                         server == &lobby && idleClient ? 1 : 0);
    }

    void connectionCountReachesEveryone()
    {
        RawClient watcher(true), other;
        QVERIFY(watcher.login(lobby.port(), "alice"));
        EXPECT_BYTES(watcher, notifyFrame(NotifyConnectionCount, Wire().u32(1)));
        QVERIFY(other.login(lobby.port(), "bob"));
        EXPECT_BYTES(watcher, notifyFrame(NotifyConnectionCount, Wire().u32(2)));
        other.close();
        EXPECT_BYTES(watcher, notifyFrame(NotifyConnectionCount, Wire().u32(1)));
    }

    // What the server sends last before it closes the connection, at any stage of it.
    void badInputEndsTheConnection_data()
    {
        QTest::addColumn<int>("stage"); // 0 connected, 1 past the hello, 2 logged in
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("lastBytes");
        QTest::addColumn<QString>("logged");
        const auto hello = [](const char* name, const QByteArray& bytes, quint32 answer) {
            QTest::newRow(name) << 0 << bytes << serverHello(answer) << "";
        };
        const auto bad = [](const QString& logged, int stage, const QByteArray& bytes) {
            QTest::newRow(qPrintable(logged)) << stage << bytes << QByteArray() << logged;
        };
        const auto room = [](const QString& title, const QString& password) {
            return request(CreateRoom, Wire().str(title).str(password).u32(2).u32(0));
        };
        QTest::newRow("Quit before login")
            << 0 << clientHello() + request(Quit)
            << serverHello(0) + notifyFrame(CloseNotice, Wire().u32(CloseNormal)) << "";
        hello("other version", frame(Wire().u32(helloMagic).u32(3)), 1);
        hello("other magic", frame(Wire().u32(0x12345678).u32(2)), 2);
        hello("short hello", frame(Wire().u32(helloMagic)), 2);
        hello("oversized hello", Wire().u32(5000), 2);
        bad("frame length 0", 1, Wire().u32(0));
        bad("frame length 1025", 2, Wire().u32(1025));
        for (quint32 code : {10, 11, 25})
            bad(QString("unknown request code %1").arg(code), 2, request(code));
        bad("field userId runs past the payload", 2, request(GetName));
        bad("string account has no NUL", 1, frame(Wire().u32(Authenticate).raw("alice")));
        bad("request 12 before login", 1, request(GetCount));
        bad("command 3 before the reply", 1,
            authenticateRequest("alice", "secret") + request(RegisterKey, Wire().str("k")));
        bad("login on a connection already logged in", 2, authenticateRequest("alice", "secret"));
        bad("string title of 144 bytes", 2, room(QString(48, QChar(0x3042)), ""));
        bad("room password longer than 8", 2, room("t", "123456789"));
        bad("string name of 120 bytes", 2, request(SetName, Wire().str(QString(120, 'n'))));
        bad("chat line of 129 characters", 2, roomRequest(Speak, 0, Wire().str(QString(129, 'c'))));
        bad("string name is not valid UTF-8", 2, request(SetName, Wire().raw("\xff\xfe").byte(0)));
    }

    void badInputEndsTheConnection()
    {
        QFETCH(int, stage);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, lastBytes);
        QFETCH(QString, logged);
        RawClient offender;
        QVERIFY(stage == 2 ? offender.login(lobby.port(), "carol")
                           : offender.open(lobby.port(), stage > 0));
        offender.send(bytes);
        QVERIFY2(offender.expectClosed(lastBytes), offender.failure.constData());
        EXPECT_LOG(lobby, logged.isEmpty() ? "" : "protocol violation: " + logged.toUtf8());
        ROUND_TRIP(idle(), request(GetCount), u32Reply(200));
    }

    void refusedRequests()
    {
        const auto refuses = [this](const QByteArray& sent, const QByteArray& reply) {
            idle().send(sent);
            return idle().expect(reply);
        };
        const auto create = [](const QString& title, quint32 capacity, quint32 gameId) {
            return request(CreateRoom, Wire().str(title).str("").u32(capacity).u32(gameId));
        };
        QVERIFY(refuses(getNameRequest(999), nameReply(1, "")));
        QVERIFY(refuses(getRoomInfoRequest(0), roomInfoReply({"Arena", 0, 10, 0, 0, 1})));
        QVERIFY(refuses(getRoomInfoRequest(1), roomInfoReply({"Den", 0, 2, chatOnlyGameId, 1})));
        QVERIFY(refuses(getRoomInfoRequest(150),
                        roomInfoReply({"", 0, 0, chatOnlyGameId, 0, noRoom, 1})));
        QVERIFY(refuses(enterRequest(150), enterRefused(1)));
        QVERIFY(refuses(enterRequest(1, "no"), enterRefused(3)));
        for (const QByteArray& sent :
             {create("t", 1, 0), create("t", 101, 0), create("t", 2, 7), create("", 2, 0)})
            QVERIFY(refuses(sent, u32Reply(noRoom)));
        for (quint32 code : {LeaveRoom, RecruitMatch, CancelRecruit, CancelApply, StartBattle,
                             EndBattle, DropBattle})
            QVERIFY2(refuses(roomRequest(code, 0), u32Reply(1)), idle().failure.constData());
        QVERIFY(refuses(roomRequest(ApplyMatch, 0, Wire().u32(alice)), u32Reply(1)));
        QVERIFY(refuses(request(SetPassword, Wire().str("wrong").str("new")), u32Reply(1)));
        QVERIFY(
            refuses(request(SetPassword, Wire().str("secret").str(QString(72, 'p'))), u32Reply(2)));
        QVERIFY(
            refuses(request(RegisterMail, Wire().str(QString(186, 'm') + "@a.org")), u32Reply(2)));
        QVERIFY(refuses(request(RegisterMail, Wire().str("a@example")), u32Reply(2)));
        QVERIFY2(refuses(request(RegisterKey, Wire().str("k")), u32Reply(1)),
                 idle().failure.constData());
    }

    void roomLifecycle()
    {
        LOGIN(owner, "alice");
        LOGIN(guest, "bob");
        const QByteArray create =
            request(CreateRoom, Wire().str("茶室").str("").u32(3).u32(chatOnlyGameId));
        ROUND_TRIP(owner, create, u32Reply(2));
        ROUND_TRIP(guest, enterRequest(2), entered({alice, bob}));
        EXPECT_BYTES(owner, roomEventFrame(2, {EventEnter, bob, 0, "BOB"}));
        ROUND_TRIP(owner, create, u32Reply(noRoom));
        EXPECT_LOG(lobby, "refused: room creation: rate limit");
        // The room list's walk: each answer names the next existing room.
        ROUND_TRIP(owner, getRoomInfoRequest(1),
                   roomInfoReply({"Den", 0, 2, chatOnlyGameId, 1, 2}));
        ROUND_TRIP(owner, getRoomInfoRequest(2), roomInfoReply({"茶室", 2, 3}));
        // Two lines a second: the third of a burst goes nowhere, not even before the next reply.
        for (const char* line : {"こんにちは", "2", "3"})
            guest.send(roomRequest(Speak, 2, Wire().str(line)));
        for (RawClient* member : {&owner, &guest})
            EXPECT_BYTES(*member, roomEventFrame(2, {EventSpeak, bob, 0, "こんにちは"}) +
                                      roomEventFrame(2, {EventSpeak, bob, 0, "2"}));
        ROUND_TRIP(guest, roomRequest(LeaveRoom, 2), u32Reply(0));
        EXPECT_BYTES(owner, roomEventFrame(2, {EventLeave, bob}));
        EXPECT_LOG(lobby, "refused: chat line in room 2: rate limit");
        ROUND_TRIP(owner, roomRequest(LeaveRoom, 2), u32Reply(0));
        ROUND_TRIP(owner, getRoomInfoRequest(2),
                   roomInfoReply({"", 0, 0, chatOnlyGameId, 0, noRoom, 1}));
    }

    // A match from recruitment to its end, then each way of leaving one: the others learn of
    // the end of the leaver's part first and of its leaving last.
    void matchFlow()
    {
        LOGIN(host, "alice");
        LOGIN(guest, "bob");
        LOGIN(late, "carol");
        const QVector<RawClient*> everyone{&host, &guest, &late};
        const auto event = [](quint32 kind, quint32 user, quint32 other = 0, quint32 value = 0,
                              const QString& text = {}) {
            return roomEventFrame(0, {kind, user, other, text, value});
        };
        ROUND_TRIP(host, enterRequest(0), entered({alice}));
        ROUND_TRIP(guest, enterRequest(0), entered({alice, bob}));
        ROUND_TRIP(late, enterRequest(0), entered({alice, bob, carol}));
        EXPECT_BYTES(host,
                     event(EventEnter, bob, 0, 0, "BOB") + event(EventEnter, carol, 0, 0, "CAROL"));
        EXPECT_BYTES(guest, event(EventEnter, carol, 0, 0, "CAROL"));
        // Refusals to enter: a full room, a room it is in, one room more than allowed.
        ROUND_TRIP(host, enterRequest(1, "pw"), entered({alice}));
        ROUND_TRIP(guest, enterRequest(1, "pw"), entered({alice, bob}));
        EXPECT_BYTES(host, roomEventFrame(1, {EventEnter, bob, 0, "BOB"}));
        ROUND_TRIP(late, enterRequest(1, "pw"), enterRefused(2));
        ROUND_TRIP(late, enterRequest(0), enterRefused(4));
        ROUND_TRIP(late, request(CreateRoom, Wire().str("t").str("").u32(2).u32(0)), u32Reply(2));
        ROUND_TRIP(late, enterRequest(1, "pw"), enterRefused(5));

        const QByteArray apply = roomRequest(ApplyMatch, 0, Wire().u32(alice));
        STEP(host, roomRequest(RecruitMatch, 0), event(EventRecruitStart, alice, 2, 2), everyone);
        ROUND_TRIP(host, roomRequest(StartBattle, 0), u32Reply(1));
        STEP(guest, apply, event(EventApply, bob, alice, 2), everyone);
        ROUND_TRIP(late, apply, u32Reply(1));
        STEP(guest, roomRequest(CancelApply, 0), event(EventApplyCancel, bob, alice, 1), everyone);
        STEP(late, apply, event(EventApply, carol, alice, 2), everyone);
        ROUND_TRIP(late, roomRequest(RecruitMatch, 0), u32Reply(1));
        // The host's address as seen on an IPv6 socket is IPv4-mapped; the text is plain IPv4.
        const QByteArray started = event(EventGameStart, alice, 0, 0, "127.0.0.1:14141");
        STEP(host, roomRequest(StartBattle, 0), started, everyone);
        STEP(late, roomRequest(DropBattle, 0), event(EventGameLeave, carol, alice), everyone);
        STEP(host, roomRequest(EndBattle, 0), event(EventGameEnd, alice), everyone);

        // Each way of leaving a match; the leaver is free for the next one. The recruiting host
        // leaves the room:
        const QVector<RawClient*> others{&host, &late}, remaining{&guest, &late};
        STEP(guest, roomRequest(RecruitMatch, 0), event(EventRecruitStart, bob, 2, 2), everyone);
        ROUND_TRIP(guest, roomRequest(LeaveRoom, 0), u32Reply(0));
        for (RawClient* member : others)
            EXPECT_BYTES(*member, event(EventRecruitCancel, bob) + event(EventLeave, bob));
        ROUND_TRIP(guest, enterRequest(0), entered({alice, carol, bob}));
        for (RawClient* member : others)
            EXPECT_BYTES(*member, event(EventEnter, bob, 0, 0, "BOB"));
        // the host disconnects in the game (leaving the later room first):
        STEP(host, roomRequest(RecruitMatch, 0), event(EventRecruitStart, alice, 2, 2), everyone);
        STEP(guest, apply, event(EventApply, bob, alice, 2), everyone);
        STEP(host, roomRequest(StartBattle, 0), started, everyone);
        host.close();
        EXPECT_BYTES(guest, roomEventFrame(1, {EventLeave, alice}));
        for (RawClient* member : remaining)
            EXPECT_BYTES(*member, event(EventGameEnd, alice) + event(EventLeave, alice));
        // a guest leaves the room in the game:
        const QByteArray applyToBob = roomRequest(ApplyMatch, 0, Wire().u32(bob));
        STEP(guest, roomRequest(RecruitMatch, 0), event(EventRecruitStart, bob, 2, 2), remaining);
        STEP(late, applyToBob, event(EventApply, carol, bob, 2), remaining);
        STEP(guest, roomRequest(StartBattle, 0),
             event(EventGameStart, bob, 0, 0, "127.0.0.1:14141"), remaining);
        ROUND_TRIP(late, roomRequest(LeaveRoom, 0), u32Reply(0));
        EXPECT_BYTES(guest, event(EventGameLeave, carol, bob) + event(EventLeave, carol));
        // an applicant disconnects.
        ROUND_TRIP(late, enterRequest(0), entered({bob, carol}));
        EXPECT_BYTES(guest, event(EventEnter, carol, 0, 0, "CAROL"));
        STEP(guest, roomRequest(EndBattle, 0), event(EventGameEnd, bob), remaining);
        STEP(guest, roomRequest(RecruitMatch, 0), event(EventRecruitStart, bob, 2, 2), remaining);
        STEP(late, applyToBob, event(EventApply, carol, bob, 2), remaining);
        late.close();
        EXPECT_BYTES(guest, event(EventApplyCancel, carol, bob, 1) + event(EventLeave, carol));
    }

    void duplicateLoginClosesTheOlder()
    {
        LOGIN(older, "bob");
        LOGIN(watcher, "carol");
        ROUND_TRIP(older, enterRequest(0), entered({bob}));
        ROUND_TRIP(watcher, enterRequest(0), entered({bob, carol}));
        LOGIN(newer, "bob");
        QVERIFY2(older.expectClosed(roomEventFrame(0, {EventEnter, carol, 0, "CAROL"}) +
                                    notifyFrame(CloseNotice, Wire().u32(CloseDuplicateLogin))),
                 older.failure.constData());
        EXPECT_BYTES(watcher, roomEventFrame(0, {EventLeave, bob}));
        ROUND_TRIP(newer, enterRequest(0), entered({carol, bob}));
    }

    void globalMessageFromAdministratorsOnly()
    {
        LOGIN(admin, "alice");
        LOGIN(user, "bob");
        user.send(request(GlobalMessage, Wire().str("spam")));
        EXPECT_LOG(lobby, "refused: global message");
        admin.send(request(GlobalMessage, Wire().str("メンテナンス")));
        for (RawClient* client : {&admin, &user, &idle()})
            EXPECT_BYTES(*client, notifyFrame(NotifySystemMessage, Wire().str("メンテナンス")));
        RawClient later;
        QVERIFY(later.open(lobby.port()));
        ROUND_TRIP(later, authenticateRequest("carol", "secret"),
                   authenticateReply(0, carol, 4, "メンテナンス"));
    }

    void registrationThroughTheOutbox()
    {
        const QString address = "newcomer@example.org";
        RawClient client, user;
        QVERIFY(client.open(lobby.port()));
        ROUND_TRIP(client, request(RegisterMail, Wire().str(address)), u32Reply(0));
        const QString key = QRegularExpression("登録キー: (\\S+)").match(mails()).captured(1);
        ROUND_TRIP(client, request(RegisterKey, Wire().str(key)), u32Reply(0));
        ROUND_TRIP(client, request(RegisterKey, Wire().str(key)), u32Reply(1));
        ROUND_TRIP(client, request(RegisterMail, Wire().str(address)), u32Reply(1));
        // One mail an hour from this address: the next new address is refused.
        ROUND_TRIP(client, request(RegisterMail, Wire().str("second@example.org")), u32Reply(1));
        EXPECT_LOG(lobby, "refused: registration: mail rate limit");
        const QRegularExpressionMatch account =
            QRegularExpression("アカウント: (\\S+)\\s+パスワード: (\\S+)").match(mails());
        QVERIFY(user.login(lobby.port(), account.captured(1), account.captured(2)));
        ROUND_TRIP(user, getNameRequest(newcomer), nameReply(0, ""));
        ROUND_TRIP(user, request(GetMail), replyFrame(Wire().str(address)));
    }

    void accountSettings()
    {
        LOGIN(client, "erin");
        client.send(request(SetName, Wire().str("エリン")) +
                    request(SetMail, Wire().str("erin@example.org")));
        ROUND_TRIP(client, getNameRequest(erin), nameReply(0, "エリン"));
        ROUND_TRIP(client, request(GetMail), replyFrame(Wire().str("erin@example.org")));
        ROUND_TRIP(client, request(SetPassword, Wire().str("secret").str("renewed")), u32Reply(0));
        client.close();
        RawClient refused, renewed;
        QVERIFY(refused.open(lobby.port()));
        ROUND_TRIP(refused, authenticateRequest("erin", "secret"), authenticateReply(1, 0, 1, ""));
        QVERIFY(renewed.login(lobby.port(), "erin", "renewed"));
        ROUND_TRIP(renewed, getNameRequest(erin), nameReply(0, "エリン"));
    }

    // The tight server, in order: the offender is refused or cut off while the others notice
    // nothing.
    void tightLimits()
    {
        RawClient silent, inside, outside, third, guesser;
        QVERIFY(silent.open(tight.port(), false) && silent.expectClosed());
        EXPECT_LOG(tight, "no hello in time");
        // One user, two connections.
        QVERIFY(inside.login(tight.port(), "alice") && outside.open(tight.port()));
        ROUND_TRIP(outside, authenticateRequest("bob", "secret"), authenticateReply(1, 0, 1, ""));
        EXPECT_LOG(tight, "refused: login: the lobby holds the most users");
        QVERIFY(third.open(tight.port(), false));
        third.send(clientHello());
        QVERIFY(third.expectClosed());
        EXPECT_LOG(tight, "too many connections from it");
        // A user that stops reading: its own chat lines come back to it; the kernel's buffers
        // fill first, then the server's queue for it.
        ROUND_TRIP(inside, request(CreateRoom, Wire().str("t").str("").u32(2).u32(0)), u32Reply(0));
        inside.stopReading();
        const QByteArray line = roomRequest(Speak, 0, Wire().str(QString(128, QChar(0x3042))));
        const QByteArray cutOff = "closed: send queue over 4096 bytes";
        for (int i = 0; i < 2000 && !tight.log().contains(cutOff); ++i)
            inside.send(line.repeated(100));
        EXPECT_LOG(tight, cutOff);
        ROUND_TRIP(outside, request(RegisterKey, Wire().str("k")), u32Reply(1));
        // One failed login a minute: after the second, even the right password is refused.
        for (const char* password : {"wrong", "again", "secret"})
            ROUND_TRIP(outside, authenticateRequest("bob", password),
                       authenticateReply(1, 0, 0, ""));
        EXPECT_LOG(tight, "refused: login: address barred");
    }
};

QTEST_GUILESS_MAIN(ServerProtocolTest)
#include "tst_serverprotocol.moc"
