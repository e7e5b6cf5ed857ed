#include "addressgroup.h"
#include "locallobbyserver.h"
#include "serverconfig.h"
#include "support/rawclient.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// Limits against clients that hold the server's resources, each as low as its cases allow.
// Clients bind loopback addresses of their own (127.0.N.x) to stand for other networks.
static const QByteArray abuseConfig =
    "[lobby]\nroomsPerAddress=1\n[limits]\nconnectionsPerAddress=2\nconnectionsBeforeLogin=4\n"
    "loginTimeoutSeconds=2\npartialFrameSeconds=1\nrefusalsPerMinute=5\nchatLinesPerSecond=1\n"
    "[log]\nrefusalSummarySeconds=1\n[rooms]\nsize=1\n1\\title=Hall\n1\\gameId=chat\n";
static const QByteArray roomyConfig = "[limits]\nconnectionsPerAddress=1000\n";
static const QByteArray welcome =
    "[lobby]\nsystemMessage=Welcome\n[limits]\nconnectionsPerAddress=1\n";

enum : quint32 { alice = 1, bob };
static const QStringList names{"", "alice", "bob"};

#define EXPECT_LOG(server, text) QTRY_VERIFY((server).log().contains(QString(text).toUtf8()))

static QHostAddress network(int n, int host = 1)
{
    return QHostAddress(QString("127.0.%1.%2").arg(n).arg(host));
}

class ServerAbuseTest : public QObject
{
    Q_OBJECT

    QTemporaryDir abuseData, scarceData, reloadData;
    LocalLobbyServer abuse{SERVER_PROGRAM, abuseData.path()};
    // Out of descriptors after a few dozen connections.
    LocalLobbyServer scarce{SERVER_WITH_FEW_DESCRIPTORS, scarceData.path()};
    LocalLobbyServer reloading{SERVER_PROGRAM, reloadData.path()};

    // Writes the configuration, sends SIGHUP and waits for the server's answer in the log.
    bool reload(const QByteArray& ini, const QByteArray& logged)
    {
        const qsizetype before = reloading.log().count(logged);
        // A server that has died has pid 0, and kill(0) would reach this whole process group.
        return reloading.writeConfig(ini) && reloading.pid() > 0 &&
               ::kill(pid_t(reloading.pid()), SIGHUP) == 0 &&
               QTest::qWaitFor([&] { return reloading.log().count(logged) > before; }, 10000);
    }

  private slots:
    void initTestCase()
    {
        QString error;
        const auto start = [&](LocalLobbyServer& server, const QByteArray& ini, int accounts) {
            bool done = server.writeConfig(ini);
            for (int i = 1; i <= accounts; ++i)
                done = done && server.createAccounts({{names[i], "secret", names[i]}}, error);
            return done && server.start(error);
        };
        QVERIFY2(start(abuse, abuseConfig, 2) && start(scarce, roomyConfig, 0) &&
                     start(reloading, roomyConfig, 1),
                 qPrintable(error));
    }

    void cleanupTestCase()
    {
        for (LocalLobbyServer* server : {&abuse, &scarce, &reloading})
            QCOMPARE(server->stop(), 0);
    }

    // Every test closes its clients; the next starts once the servers have let them go.
    void cleanup()
    {
        for (LocalLobbyServer* server : {&abuse, &scarce, &reloading})
            QTRY_COMPARE(server->log().count(" opened") - server->log().count(" closed: "), 0);
    }

    void addressGroups_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("prefix");
        QTest::addColumn<QString>("group");
        QTest::newRow("IPv4 /24") << "192.0.2.77" << 24 << "192.0.2.0/24";
        QTest::newRow("IPv4 /20") << "198.51.100.7" << 20 << "198.51.96.0/20";
        QTest::newRow("IPv4 /32") << "203.0.113.9" << 32 << "203.0.113.9/32";
        QTest::newRow("IPv4-mapped") << "::ffff:192.0.2.77" << 24 << "192.0.2.0/24";
        QTest::newRow("IPv6 /64") << "2001:db8:1:2:3:4:5:6" << 24 << "2001:db8:1:2::/64";
    }

    void addressGroups()
    {
        QFETCH(QString, address);
        QFETCH(int, prefix);
        QTEST(addressGroup(QHostAddress(address), prefix), "group");
    }

    // Connections from 127.0.N.x, one digit N each, the first ones logged in: which of them get
    // the hello (+) and which do not (-). Networks apart count apart: see addressGroups.
    void connectionLimits_data()
    {
        QTest::addColumn<QByteArray>("networks");
        QTest::addColumn<int>("loggedIn");
        QTest::addColumn<QByteArray>("accepted");
        QTest::newRow("two per network") << QByteArray("111") << 0 << QByteArray("++-");
        QTest::newRow("four before login") << QByteArray("12345") << 0 << QByteArray("++++-");
        QTest::newRow("users do not count") << QByteArray("123456") << 2 << QByteArray("++++++");
    }

    void connectionLimits()
    {
        QFETCH(QByteArray, networks);
        QFETCH(int, loggedIn);
        std::vector<std::unique_ptr<RawClient>> clients;
        QByteArray accepted;
        for (int i = 0; i < networks.size(); ++i) {
            clients.push_back(std::make_unique<RawClient>());
            const quint32 user = i < loggedIn ? quint32(i + 1) : 0;
            const QHostAddress from = network(networks[i] - '0', i + 1);
            RawClient& client = *clients.back();
            const bool got = user ? client.login(abuse.port(), names[user], user, from)
                                  : client.open(abuse.port(), true, from);
            accepted += got ? '+' : '-';
        }
        QTEST(accepted, "accepted");
    }

    // A client that holds its connection without getting anywhere is cut off, while a user who
    // logged in before it and stays silent is not.
    void deadlines_data()
    {
        QTest::addColumn<quint32>("user");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why");
        QTest::newRow("no login") << 0u << QByteArray() << "closed: no login in time";
        QTest::newRow("half a frame") << quint32(bob) << frameBytes(GetCountRequest{}).left(5)
                                      << "closed: a frame unfinished for 1 s";
    }

    void deadlines()
    {
        QFETCH(quint32, user);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        RawClient silent, stalling;
        QVERIFY(silent.login(abuse.port(), names[alice], alice, network(1)));
        QVERIFY(user ? stalling.login(abuse.port(), names[user], user, network(2))
                     : stalling.open(abuse.port(), true, network(2)));
        stalling.send(bytes);
        QVERIFY(stalling.expectClosed());
        EXPECT_LOG(abuse, why);
        silent.send(frameBytes(GetCountRequest{}));
        QVERIFY(silent.expect(frameBytes(ResultReply{200})));
    }

    // A burst of chat lines over the rate: the first refusal is logged, the rest summed up;
    // past five refusals the client is sent away.
    void refusals_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QByteArray>("closing");
        const QString kind = "more refusals of \"chat line in room #: rate limit\"";
        QTest::newRow("summed up") << 5 << "3 " + kind << QByteArray();
        QTest::newRow("sent away")
            << 8 << "5 " + kind << frameBytes(CloseNotification{CloseServerShutdown});
    }

    void refusals()
    {
        QFETCH(int, lines);
        QFETCH(QString, summary);
        QFETCH(QByteArray, closing);
        const QByteArray refused = "refused: chat line in room 0: rate limit";
        const qsizetype before = abuse.log().count(refused);
        RawClient chatty;
        QVERIFY(chatty.login(abuse.port(), names[alice], alice, network(1)));
        chatty.send(frameBytes(EnterRoomRequest{0, {}}));
        QVERIFY(chatty.expect(enteredReply({alice})));
        chatty.send(frameBytes(SpeakRequest{0, "hi"}).repeated(lines));
        QVERIFY(chatty.expect(roomEventFrame(0, {EventSpeak, alice, 0, "hi"})));
        if (!closing.isEmpty())
            QVERIFY(chatty.expectClosed(closing));
        EXPECT_LOG(abuse, summary);
        QCOMPARE(abuse.log().count(refused), before + 1);
    }

    // Values a client chose reach the log with their control characters escaped: an account
    // name "a", the character, "b".
    void logEscapes_data()
    {
        QTest::addColumn<int>("character");
        QTest::addColumn<QString>("logged");
        QTest::newRow("newline") << 0x0A << "a\\nb";
        QTest::newRow("terminal escape") << 0x1B << "a\\x1bb";
        QTest::newRow("delete") << 0x7F << "a\\x7fb";
        QTest::newRow("C1 next line") << 0x85 << "a\\x85b";
        QTest::newRow("line separator") << 0x2028 << "a\\u2028b";
        QTest::newRow("backslash") << int('\\') << "a\\\\b";
    }

    void logEscapes()
    {
        QFETCH(int, character);
        QFETCH(QString, logged);
        const QString name = QString("a%1b").arg(QChar(character));
        RawClient guesser;
        QVERIFY(guesser.open(abuse.port(), true, network(1)));
        guesser.send(authenticateRequest(name, "x"));
        QVERIFY(guesser.expect(authenticateReply(1, 0, 0, {})));
        EXPECT_LOG(abuse, "refused: login: unknown account " + logged);
        QVERIFY(!abuse.log().contains("unknown account " + name.toUtf8()));
    }

    // The creator of a room holds it for its network until it leaves.
    void roomsPerNetwork_data()
    {
        QTest::addColumn<int>("otherNetwork");
        QTest::addColumn<bool>("holderLeaves");
        QTest::addColumn<quint32>("created");
        QTest::newRow("same network") << 1 << false << noRoom;
        QTest::newRow("other network") << 2 << false << 2u;
        QTest::newRow("holder gone") << 1 << true << 1u;
    }

    void roomsPerNetwork()
    {
        QFETCH(int, otherNetwork);
        QFETCH(bool, holderLeaves);
        RawClient holder, other;
        QVERIFY(holder.login(abuse.port(), names[alice], alice, network(1, 1)));
        QVERIFY(other.login(abuse.port(), names[bob], bob, network(otherNetwork, 2)));
        const QByteArray create = frameBytes(CreateRoomRequest{"t", {}, 2, chatOnlyGameId});
        holder.send(create);
        QVERIFY(holder.expect(frameBytes(ResultReply{1})));
        if (holderLeaves) {
            holder.send(frameBytes(LeaveRoomRequest{1}));
            QVERIFY(holder.expect(frameBytes(ResultReply{0})));
        }
        other.send(create);
        QFETCH(quint32, created);
        QVERIFY(other.expect(frameBytes(ResultReply{created})));
    }

    // Out of descriptors, the server stops accepting for a while, once logged, and takes the
    // clients that waited as soon as descriptors are free again.
    void acceptPausesAtDescriptorLimit()
    {
        std::vector<std::unique_ptr<QTcpSocket>> flood;
        for (int i = 0; i < 80; ++i) {
            flood.push_back(std::make_unique<QTcpSocket>());
            flood.back()->connectToHost(QHostAddress::LocalHost, scarce.port());
            QVERIFY(flood.back()->waitForConnected(10000));
            flood.back()->write(clientHello());
        }
        EXPECT_LOG(scarce, "accepting paused");
        flood.clear();
        RawClient later;
        QVERIFY(later.open(scarce.port()));
        QCOMPARE(scarce.log().count("accepting paused"), 1);
    }

    // What a reload takes over, what waits for a restart (and is named), and what the command
    // line gave, which no file changes.
    void liveSettings_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QString>("message");
        QTest::newRow("live") << QByteArray("[lobby]\nsystemMessage=New\n") << QStringList()
                              << "New";
        QTest::newRow("database") << QByteArray("[database]\nurl=sqlite:x.db\n")
                                  << QStringList{"database/url"} << QString();
        QTest::newRow("account lock") << QByteArray("[accounts]\nlockSeconds=5\n")
                                      << QStringList{"accounts/lockSeconds"} << QString();
    }

    void liveSettings()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, message);
        QTemporaryFile file;
        ServerConfig running, read;
        running.dataFolder = "/srv/lobby";
        QString error;
        QVERIFY(file.open() && file.write(ini) == ini.size() && file.flush());
        QVERIFY(loadServerConfig(file.fileName(), read, error));
        QTEST(adoptLiveSettings(running, read), "kept");
        QCOMPARE(running.systemMessage, message);
        QCOMPARE(running.database, QString());
        QCOMPARE(running.lockSeconds, ServerConfig().lockSeconds);
        QCOMPARE(running.dataFolder, "/srv/lobby");
    }

    // SIGHUP reads the configuration again: what changed applies at once, and a bad file changes
    // nothing (what waits for a restart: see liveSettings). Each row starts from a lobby that
    // says "Welcome" and takes one connection per network.
    void reloadOnHangup_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArray>("logged");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("secondAccepted");
        QTest::newRow("message and limit")
            << QByteArray("[lobby]\nsystemMessage=Maintenance\n")
            << QByteArray("configuration reloaded") << "Maintenance" << true;
        QTest::newRow("bad value")
            << QByteArray("[lobby]\nsystemMessage=Other\n[limits]\nconnectionsPerAddress=0\n")
            << QByteArray("configuration not reloaded") << QString() << false;
    }

    void reloadOnHangup()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, logged);
        QFETCH(QString, message);
        QVERIFY(reload(welcome, "configuration reloaded"));
        RawClient watcher, second;
        QVERIFY(watcher.login(reloading.port(), names[alice], alice, network(1, 1)));
        QVERIFY(reload(ini, logged));
        // The notification, if any, comes before the reply to a request sent after it.
        const QByteArray notice =
            message.isEmpty() ? QByteArray() : frameBytes(SystemMessageNotification{message});
        watcher.send(frameBytes(GetCountRequest{}));
        QVERIFY(watcher.expect(notice + frameBytes(ResultReply{200})));
        QTEST(second.open(reloading.port(), true, network(1, 2)), "secondAccepted");
    }
};

QTEST_GUILESS_MAIN(ServerAbuseTest)
#include "tst_serverabuse.moc"
