#include "lobbywire.h"
#include "locallobbyserver.h"
#include "support/wire.h"

#include <QDir>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <memory>

// The lobby, listening on every address, with three permanent rooms: 0 a chat room, 1 a room for
// game 0, 2 a locked chat room for two. Its rate limits are as low as the cases allow, so that
// they meet them at their edge.
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

// A second server whose limits that guard the whole lobby are tight.
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
enum : quint32 { alice = 1, bob, carol, dave, erin };

static QByteArray request(quint32 code, const QByteArray& fields = {})
{
    return frame(Wire().u32(code).raw(fields));
}

static QByteArray roomRequest(quint32 code, quint32 roomId, const QByteArray& more = {})
{
    return request(code, Wire().u32(roomId).raw(more));
}

static QByteArray enterRequest(quint32 roomId, const QString& password = {})
{
    return roomRequest(EnterRoom, roomId, Wire().str(password));
}

static QByteArray roomEvent(quint32 kind, quint32 roomId, quint32 userId, quint32 otherId = 0,
                            quint32 value = 0, const QString& text = {})
{
    return notifyFrame(
        NotifyRoomEvent,
        Wire().u32(kind).u32(roomId).u32(userId).u32(otherId).u32(value).u32(0).str(text));
}

static QByteArray u32Reply(quint32 value)
{
    return replyFrame(Wire().u32(value));
}

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

static QByteArray refusedLogin(quint32 users)
{
    return replyFrame(Wire().u32(1).u32(0).u32(users).str(""));
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
        if (!socket.waitForConnected(10000))
            return fail("cannot connect: " + socket.errorString().toUtf8());
        if (hello)
            send(clientHello());
        return !hello || expect(serverHello(0));
    }

    bool login(quint16 port, const QString& account, const QString& password = "secret",
               quint32* userId = nullptr)
    {
        if (!open(port))
            return false;
        send(request(Authenticate, Wire().str(account).str(password)));
        waitFor(4);
        const qsizetype length =
            received.size() < 4 ? 4 : 4 + qFromLittleEndian<quint32>(received.data());
        waitFor(length);
        if (received.size() < 17 || received.mid(4, 5) != Wire().byte(0).u32(0).bytes())
            return fail("login refused: " + received.toHex(' '));
        if (userId)
            *userId = qFromLittleEndian<quint32>(received.data() + 9);
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
        if (!received.startsWith(bytes))
            return fail("expected " + bytes.toHex(' ') + "\nreceived " + received.toHex(' '));
        received.remove(0, bytes.size());
        return true;
    }

    // These bytes, then the end of the connection.
    bool expectClosed(const QByteArray& lastBytes = {})
    {
        waitFor(1 << 30);
        if (expect(lastBytes) && !received.isEmpty())
            return fail("more bytes: " + received.toHex(' '));
        return failure.isEmpty() && socket.state() != QAbstractSocket::ConnectedState;
    }

    // Takes no more bytes from the operating system, as a client that hangs would.
    void stopReading()
    {
        reading = false;
        socket.setReadBufferSize(1);
    }

    QByteArray failure;

  private:
    bool fail(const QByteArray& why)
    {
        failure = why;
        return false;
    }

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
#define EXPECT_CLOSED(client, bytes)                                                               \
    QVERIFY2((client).expectClosed(bytes), (client).failure.constData())
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

    QString latestMailTo(const QString& address)
    {
        QDir outbox(lobbyData.filePath("outbox"));
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
            EXPECT_CLOSED(*client, notifyFrame(CloseNotice, Wire().u32(CloseServerShutdown)));
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
        RawClient watcher(true);
        QVERIFY(watcher.login(lobby.port(), "alice"));
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
            << serverHello(0) + notifyFrame(CloseNotice, Wire().u32(CloseNormal));
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
        QVERIFY(client.open(lobby.port(), false));
        client.send(sent);
        EXPECT_CLOSED(client, lastBytes);
    }

    void badInputClosesOnlyTheOffender_data()
    {
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("logged");
        const auto row = [](const QString& logged, bool loggedIn, const QByteArray& bytes) {
            QTest::newRow(qPrintable(logged)) << loggedIn << bytes << logged;
        };
        const QByteArray login = request(Authenticate, Wire().str("alice").str("secret"));
        const auto room = [](const QString& title, const QString& password) {
            return request(CreateRoom, Wire().str(title).str(password).u32(2).u32(0));
        };
        row("frame length 0", false, Wire().u32(0));
        row("frame length 1025", true, Wire().u32(1025));
        for (quint32 code : {10, 11, 25})
            row(QString("unknown request code %1").arg(code), true, request(code));
        row("field userId runs past the payload", true, request(GetName));
        row("string account has no NUL", false, frame(Wire().u32(Authenticate).raw("alice")));
        row("request 12 before login", false, request(GetCount));
        row("command 3 before the reply", false, login + request(RegisterKey, Wire().str("k")));
        row("login on a connection already logged in", true, login);
        row("string title of 144 bytes", true, room(QString(48, QChar(0x3042)), ""));
        row("room password longer than 8", true, room("t", "123456789"));
        row("string name of 120 bytes", true, request(SetName, Wire().str(QString(120, 'n'))));
        row("chat line of 129 characters", true,
            roomRequest(Speak, 0, Wire().str(QString(129, 'c'))));
        row("string name is not valid UTF-8", true,
            request(SetName, Wire().raw("\xff\xfe").byte(0)));
    }

    void badInputClosesOnlyTheOffender()
    {
        QFETCH(bool, loggedIn);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, logged);
        RawClient offender;
        QVERIFY(loggedIn ? offender.login(lobby.port(), "carol") : offender.open(lobby.port()));
        offender.send(bytes);
        EXPECT_CLOSED(offender, QByteArray());
        EXPECT_LOG(lobby, "protocol violation: " + logged.toUtf8());
        ROUND_TRIP(idle(), request(GetCount), u32Reply(200));
    }

    void refusedRequests_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        const auto row = [](const char* name, const QByteArray& sent, const QByteArray& reply) {
            QTest::newRow(name) << sent << reply;
        };
        const auto create = [](const QString& title, quint32 capacity, quint32 gameId) {
            return request(CreateRoom, Wire().str(title).str("").u32(capacity).u32(gameId));
        };
        row("name of nobody", request(GetName, Wire().u32(999)), replyFrame(Wire().u32(1).str("")));
        row("permanent room", roomRequest(GetRoomInfo, 1), roomInfo(0, 0, "Arena", 0, 10, 0, 2));
        row("locked room", roomRequest(GetRoomInfo, 2),
            roomInfo(0, 1, "Den", 0, 2, chatOnlyGameId, noRoom));
        row("past the last room", roomRequest(GetRoomInfo, 150),
            roomInfo(1, 0, "", 0, 0, chatOnlyGameId, noRoom));
        row("enter no room", enterRequest(150), replyFrame(Wire().u32(1).u32(0)));
        row("wrong room password", enterRequest(2, "no"), replyFrame(Wire().u32(3).u32(0)));
        row("room for 1", create("t", 1, 0), u32Reply(noRoom));
        row("room for 101", create("t", 101, 0), u32Reply(noRoom));
        row("room for game 7", create("t", 2, 7), u32Reply(noRoom));
        row("room without a title", create("", 2, 0), u32Reply(noRoom));
        for (quint32 code : {LeaveRoom, RecruitMatch, CancelRecruit, CancelApply, StartBattle,
                             EndBattle, DropBattle})
            QTest::addRow("request %u outside the room", code)
                << roomRequest(code, 1) << u32Reply(1);
        row("apply without a recruit", roomRequest(ApplyMatch, 1, Wire().u32(alice)), u32Reply(1));
        row("wrong current password", request(SetPassword, Wire().str("wrong").str("new")),
            u32Reply(1));
        row("password of 72 bytes",
            request(SetPassword, Wire().str("secret").str(QString(72, 'p'))), u32Reply(2));
        row("mail of 192 bytes", request(RegisterMail, Wire().str(QString(186, 'm') + "@a.org")),
            u32Reply(2));
        row("mail without a dot", request(RegisterMail, Wire().str("a@example")), u32Reply(2));
        row("unknown key", request(RegisterKey, Wire().str("k")), u32Reply(1));
    }

    void refusedRequests()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        ROUND_TRIP(idle(), sent, reply);
    }

    void roomLifecycle()
    {
        LOGIN(owner, "alice");
        LOGIN(guest, "bob");
        const QByteArray create =
            request(CreateRoom, Wire().str("茶室").str("").u32(3).u32(chatOnlyGameId));
        ROUND_TRIP(owner, create, u32Reply(3));
        ROUND_TRIP(guest, enterRequest(3), entered({alice, bob}));
        EXPECT_BYTES(owner, roomEvent(EventEnter, 3, bob, 0, 0, "BOB"));
        ROUND_TRIP(owner, create, u32Reply(noRoom));
        EXPECT_LOG(lobby, "refused: room creation: rate limit");
        // The room list's walk: each answer names the next existing room.
        ROUND_TRIP(owner, roomRequest(GetRoomInfo, 2),
                   roomInfo(0, 1, "Den", 0, 2, chatOnlyGameId, 3));
        ROUND_TRIP(owner, roomRequest(GetRoomInfo, 3),
                   roomInfo(0, 0, "茶室", 2, 3, chatOnlyGameId, noRoom));
        // Two lines a second: the third of a burst goes nowhere, not even before the next reply.
        for (const char* line : {"こんにちは", "2", "3"})
            guest.send(roomRequest(Speak, 3, Wire().str(line)));
        for (RawClient* member : {&owner, &guest})
            EXPECT_BYTES(*member, roomEvent(EventSpeak, 3, bob, 0, 0, "こんにちは") +
                                      roomEvent(EventSpeak, 3, bob, 0, 0, "2"));
        ROUND_TRIP(guest, roomRequest(LeaveRoom, 3), u32Reply(0));
        EXPECT_BYTES(owner, roomEvent(EventLeave, 3, bob));
        EXPECT_LOG(lobby, "refused: chat line in room 3: rate limit");
        ROUND_TRIP(owner, roomRequest(LeaveRoom, 3), u32Reply(0));
        ROUND_TRIP(owner, roomRequest(GetRoomInfo, 3),
                   roomInfo(1, 0, "", 0, 0, chatOnlyGameId, noRoom));
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
        // Refusals to enter: a full room, a room it is in, one room more than allowed.
        ROUND_TRIP(host, enterRequest(2, "pw"), entered({alice}));
        ROUND_TRIP(guest, enterRequest(2, "pw"), entered({alice, bob}));
        EXPECT_BYTES(host, roomEvent(EventEnter, 2, bob, 0, 0, "BOB"));
        ROUND_TRIP(late, enterRequest(2, "pw"), replyFrame(Wire().u32(2).u32(0)));
        ROUND_TRIP(late, enterRequest(1), replyFrame(Wire().u32(4).u32(0)));
        ROUND_TRIP(late, enterRequest(0), entered({carol}));
        ROUND_TRIP(late, enterRequest(2, "pw"), replyFrame(Wire().u32(5).u32(0)));

        const QByteArray apply = roomRequest(ApplyMatch, 1, Wire().u32(alice));
        STEP(host, roomRequest(RecruitMatch, 1), roomEvent(EventRecruitStart, 1, alice, 2, 2),
             everyone);
        ROUND_TRIP(host, roomRequest(StartBattle, 1), u32Reply(1));
        STEP(guest, apply, roomEvent(EventApply, 1, bob, alice, 2), everyone);
        ROUND_TRIP(late, apply, u32Reply(1));
        STEP(guest, roomRequest(CancelApply, 1), roomEvent(EventApplyCancel, 1, bob, alice, 1),
             everyone);
        STEP(late, apply, roomEvent(EventApply, 1, carol, alice, 2), everyone);
        ROUND_TRIP(late, roomRequest(RecruitMatch, 1), u32Reply(1));
        // The host's address as seen on an IPv6 socket is IPv4-mapped; the text is plain IPv4.
        STEP(host, roomRequest(StartBattle, 1),
             roomEvent(EventGameStart, 1, alice, 0, 0, "127.0.0.1:14141"), everyone);
        STEP(late, roomRequest(DropBattle, 1), roomEvent(EventGameLeave, 1, carol, alice),
             everyone);
        STEP(host, roomRequest(EndBattle, 1), roomEvent(EventGameEnd, 1, alice), everyone);
        STEP(guest, roomRequest(RecruitMatch, 1), roomEvent(EventRecruitStart, 1, bob, 2, 2),
             everyone);
        STEP(guest, roomRequest(CancelRecruit, 1), roomEvent(EventRecruitCancel, 1, bob), everyone);
    }

    void leavingEndsTheMatch_data()
    {
        QTest::addColumn<bool>("hostLeaves");
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("disconnects");
        QTest::addColumn<QByteArray>("ending");
        QTest::newRow("host leaves its recruit")
            << true << false << false << roomEvent(EventRecruitCancel, 1, alice);
        QTest::newRow("applicant disconnects")
            << false << false << true << roomEvent(EventApplyCancel, 1, bob, alice, 1);
        QTest::newRow("guest leaves the game")
            << false << true << false << roomEvent(EventGameLeave, 1, bob, alice);
        QTest::newRow("host disconnects in game")
            << true << true << true << roomEvent(EventGameEnd, 1, alice);
    }

    void leavingEndsTheMatch()
    {
        QFETCH(bool, hostLeaves);
        QFETCH(bool, started);
        QFETCH(bool, disconnects);
        QFETCH(QByteArray, ending);
        auto host = std::make_unique<RawClient>(), guest = std::make_unique<RawClient>();
        QVERIFY(host->login(lobby.port(), "alice") && guest->login(lobby.port(), "bob"));
        ROUND_TRIP(*host, enterRequest(1), entered({alice}));
        ROUND_TRIP(*guest, enterRequest(1), entered({alice, bob}));
        EXPECT_BYTES(*host, roomEvent(EventEnter, 1, bob, 0, 0, "BOB"));
        const QVector<RawClient*> both{host.get(), guest.get()};
        STEP(*host, roomRequest(RecruitMatch, 1), roomEvent(EventRecruitStart, 1, alice, 2, 2),
             both);
        STEP(*guest, roomRequest(ApplyMatch, 1, Wire().u32(alice)),
             roomEvent(EventApply, 1, bob, alice, 2), both);
        if (started)
            STEP(*host, roomRequest(StartBattle, 1),
                 roomEvent(EventGameStart, 1, alice, 0, 0, "127.0.0.1:14141"), both);
        std::unique_ptr<RawClient>& leaver = hostLeaves ? host : guest;
        if (disconnects)
            leaver.reset();
        else
            ROUND_TRIP(*leaver, roomRequest(LeaveRoom, 1), u32Reply(0));
        EXPECT_BYTES(hostLeaves ? *guest : *host,
                     ending + roomEvent(EventLeave, 1, hostLeaves ? alice : bob));
        // Nothing of the match is left: the guest, whether it stayed or came back, can recruit.
        if (!guest) {
            guest = std::make_unique<RawClient>();
            QVERIFY(guest->login(lobby.port(), "bob"));
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
        EXPECT_LOG(lobby, "refused: global message");
        admin.send(request(GlobalMessage, Wire().str("メンテナンス")));
        for (RawClient* client : {&admin, &user, &idle()})
            EXPECT_BYTES(*client, notifyFrame(NotifySystemMessage, Wire().str("メンテナンス")));
        RawClient later;
        QVERIFY(later.open(lobby.port()));
        ROUND_TRIP(later, request(Authenticate, Wire().str("carol").str("secret")),
                   replyFrame(Wire().u32(0).u32(carol).u32(4).str("メンテナンス")));
    }

    void registrationThroughTheOutbox()
    {
        const QString address = "newcomer@example.org";
        RawClient client;
        QVERIFY(client.open(lobby.port()));
        ROUND_TRIP(client, request(RegisterMail, Wire().str(address)), u32Reply(0));
        const QString key =
            QRegularExpression("登録キー: (\\S+)").match(latestMailTo(address)).captured(1);
        QVERIFY(!key.isEmpty());
        ROUND_TRIP(client, request(RegisterKey, Wire().str(key)), u32Reply(0));
        ROUND_TRIP(client, request(RegisterKey, Wire().str(key)), u32Reply(1));
        ROUND_TRIP(client, request(RegisterMail, Wire().str(address)), u32Reply(1));
        // One mail an hour from this address: the next new address is refused.
        ROUND_TRIP(client, request(RegisterMail, Wire().str("second@example.org")), u32Reply(1));
        EXPECT_LOG(lobby, "refused: registration: mail rate limit");
        const QRegularExpressionMatch mail =
            QRegularExpression("アカウント: (\\S+)\\s+パスワード: (\\S+)")
                .match(latestMailTo(address));
        quint32 id = 0;
        RawClient user;
        QVERIFY(user.login(lobby.port(), mail.captured(1), mail.captured(2), &id));
        ROUND_TRIP(user, request(GetName, Wire().u32(id)), replyFrame(Wire().u32(0).str("")));
        ROUND_TRIP(user, request(GetMail), replyFrame(Wire().str(address)));
    }

    void accountSettings()
    {
        {
            LOGIN(client, "erin");
            client.send(request(SetName, Wire().str("エリン")) +
                        request(SetMail, Wire().str("erin@example.org")));
            ROUND_TRIP(client, request(GetName, Wire().u32(erin)),
                       replyFrame(Wire().u32(0).str("エリン")));
            ROUND_TRIP(client, request(GetMail), replyFrame(Wire().str("erin@example.org")));
            ROUND_TRIP(client, request(SetPassword, Wire().str("secret").str("renewed")),
                       u32Reply(0));
        }
        RawClient refused, renewed;
        QVERIFY(refused.open(lobby.port()));
        ROUND_TRIP(refused, request(Authenticate, Wire().str("erin").str("secret")),
                   refusedLogin(1));
        QVERIFY(renewed.login(lobby.port(), "erin", "renewed"));
        ROUND_TRIP(renewed, request(GetName, Wire().u32(erin)),
                   replyFrame(Wire().u32(0).str("エリン")));
    }

    // The tight server: the offender is refused or cut off while the others notice nothing.
    void silentClientIsClosed()
    {
        RawClient silent;
        QVERIFY(silent.open(tight.port(), false));
        EXPECT_CLOSED(silent, QByteArray());
        EXPECT_LOG(tight, "no hello in time");
    }

    void usersAndConnectionsAreCapped()
    {
        RawClient inside, outside, third;
        QVERIFY(inside.login(tight.port(), "alice") && outside.open(tight.port()));
        ROUND_TRIP(outside, request(Authenticate, Wire().str("bob").str("secret")),
                   refusedLogin(1));
        EXPECT_LOG(tight, "refused: login: the lobby holds the most users");
        QVERIFY(third.open(tight.port(), false));
        third.send(clientHello());
        EXPECT_CLOSED(third, QByteArray());
        EXPECT_LOG(tight, "too many connections from it");
        ROUND_TRIP(inside, request(GetCount), u32Reply(200));
    }

    void clientThatStopsReadingIsCutOff()
    {
        RawClient stalled, bystander;
        QVERIFY(stalled.login(tight.port(), "alice") && bystander.open(tight.port()));
        ROUND_TRIP(stalled, request(CreateRoom, Wire().str("t").str("").u32(2).u32(0)),
                   u32Reply(0));
        stalled.stopReading();
        // Its own chat lines come back to it; the kernel's buffers fill first, then the
        // server's queue for it.
        const QByteArray line = roomRequest(Speak, 0, Wire().str(QString(128, QChar(0x3042))));
        const QByteArray cutOff = "closed: send queue over 4096 bytes";
        for (int i = 0; i < 2000 && !tight.log().contains(cutOff); ++i)
            stalled.send(line.repeated(100));
        EXPECT_LOG(tight, cutOff);
        ROUND_TRIP(bystander, request(RegisterKey, Wire().str("k")), u32Reply(1));
    }

    // One failed login a minute: after the second, even the right password is refused.
    void failedLoginsBarTheAddress()
    {
        RawClient guesser;
        QVERIFY(guesser.open(tight.port()));
        for (const char* password : {"wrong", "again", "secret"})
            ROUND_TRIP(guesser, request(Authenticate, Wire().str("bob").str(password)),
                       refusedLogin(0));
        EXPECT_LOG(tight, "refused: login: address barred");
    }
};

QTEST_GUILESS_MAIN(ServerProtocolTest)
#include "tst_serverprotocol.moc"
