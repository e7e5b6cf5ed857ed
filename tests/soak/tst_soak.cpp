#include "lobbyclient.h"
#include "locallobbyserver.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

namespace
{
constexpr int botCount = 200;
constexpr int roomCount = 10;
constexpr int chatMs = 30000;

const QByteArray config = R"(
[limits]
connectionsPerAddress=1000
chatLinesPerSecond=20
[rooms]
size=10
1\title=soak 1
1\gameId=chat
2\title=soak 2
2\gameId=chat
3\title=soak 3
3\gameId=chat
4\title=soak 4
4\gameId=chat
5\title=soak 5
5\gameId=chat
6\title=soak 6
6\gameId=chat
7\title=soak 7
7\gameId=chat
8\title=soak 8
8\gameId=chat
9\title=soak 9
9\gameId=chat
10\title=soak 10
10\gameId=chat
)";

// A line as a member heard it: who said it and its number in what that speaker said.
quint64 lineKey(quint32 speaker, quint32 sequence)
{
    return quint64(speaker) << 32 | sequence;
}

struct SoakBot {
    LobbyClient client;
    QTimer chatTimer;
    quint32 userId = noRoom;
    quint32 roomId = noRoom;
    quint32 sent = 0;
    std::vector<quint64> heard;

    void hear(const LobbyRoomEvent& event)
    {
        if (event.kind == EventSpeak && event.roomId == roomId)
            heard.push_back(lineKey(event.userId, event.utf8Text.toUInt()));
    }
};
} // namespace

class SoakTest : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase()
    {
        QVERIFY(dataFolder.isValid());
        server = std::make_unique<LocalLobbyServer>(TILEPARLOR_SERVER_PROGRAM, dataFolder.path());
        QVERIFY(server->writeConfig(config));
        QVector<LobbyAccount> accounts;
        for (int i = 0; i < botCount; ++i)
            accounts.append(
                {QString("soak%1").arg(i), QString("pw%1").arg(i), QString("ソーク%1").arg(i)});
        QString error;
        QVERIFY2(server->createAccounts(accounts, error), qPrintable(error));
        QVERIFY2(server->start(error), qPrintable(error));
    }

    // Every member of a room hears every line said there exactly once, the speaker included,
    // each speaker's lines in the order said, and all members in one and the same order.
    void everyLineReachesEveryMemberOnceInOrder()
    {
        std::vector<std::unique_ptr<SoakBot>> bots;
        int failures = 0;
        for (int i = 0; i < botCount; ++i) {
            auto bot = std::make_unique<SoakBot>();
            SoakBot* raw = bot.get();
            connect(&raw->client, &LobbyClient::roomEvent, this,
                    [raw](const LobbyRoomEvent& event) { raw->hear(event); });
            connect(&raw->client, &LobbyClient::closed, this, [raw, &failures] {
                ++failures;
                qWarning().noquote() << "bot" << raw->userId << raw->client.closeDetail();
            });
            raw->client.connectToServer("127.0.0.1", server->port());
            raw->client.authenticate(QString("soak%1").arg(i), QString("pw%1").arg(i),
                                     [raw](const LoginReply& reply) {
                                         if (reply.result == 0)
                                             raw->userId = reply.userId;
                                     });
            bots.push_back(std::move(bot));
        }
        QHash<QString, quint32> roomByTitle;
        bots.front()->client.listRooms([&](const QVector<RoomInfo>& rooms) {
            for (const RoomInfo& room : rooms)
                roomByTitle.insert(room.title, room.roomId);
        });
        const auto allLoggedIn = [&] {
            return std::all_of(bots.begin(), bots.end(),
                               [](const auto& bot) { return bot->userId != noRoom; });
        };
        // Every login hashes a password the expensive way, two at a time on this machine.
        QElapsedTimer loginClock;
        loginClock.start();
        QVERIFY(QTest::qWaitFor([&] { return failures > 0 || allLoggedIn(); }, 900000));
        qInfo("%d logins in %lld ms", botCount, loginClock.elapsed());
        QCOMPARE(failures, 0);
        QTRY_COMPARE(roomByTitle.size(), roomCount);

        int entered = 0;
        for (int i = 0; i < botCount; ++i) {
            SoakBot* bot = bots[size_t(i)].get();
            const quint32 roomId = roomByTitle.value(QString("soak %1").arg(i % roomCount + 1));
            bot->client.enterRoom(roomId, "", [bot, roomId, &entered](quint32 result, auto&) {
                QCOMPARE(result, 0u);
                bot->roomId = roomId;
                ++entered;
            });
        }
        QTRY_COMPARE_WITH_TIMEOUT(entered, botCount, 60000);

        for (auto& bot : bots) {
            SoakBot* raw = bot.get();
            connect(&raw->chatTimer, &QTimer::timeout, this,
                    [raw] { raw->client.speak(raw->roomId, QString::number(raw->sent++)); });
            raw->chatTimer.start(200 + QRandomGenerator::global()->bounded(100));
        }
        bool chatting = true;
        QTimer::singleShot(chatMs, this, [&] {
            for (auto& bot : bots)
                bot->chatTimer.stop();
            chatting = false;
        });
        QHash<quint32, quint32> saidInRoom;
        const auto allHeard = [&] {
            if (chatting)
                return false;
            if (saidInRoom.isEmpty()) {
                for (const auto& bot : bots)
                    saidInRoom[bot->roomId] += bot->sent;
            }
            return std::all_of(bots.begin(), bots.end(), [&](const auto& bot) {
                return bot->heard.size() >= saidInRoom.value(bot->roomId);
            });
        };
        // Lines still in flight arrive within moments; a shortfall after that is reported by
        // the checks below, which say who missed what.
        if (!QTest::qWaitFor([&] { return failures > 0 || allHeard(); }, chatMs + 20000))
            qWarning("lines still missing after the chat ended");
        QCOMPARE(failures, 0);

        QHash<quint32, SoakBot*> firstMember;
        QHash<quint32, SoakBot*> botByUser;
        for (const auto& bot : bots) {
            firstMember.insert(bot->roomId, firstMember.value(bot->roomId, bot.get()));
            botByUser.insert(bot->userId, bot.get());
        }
        for (const auto& bot : bots) {
            const std::vector<quint64>& order = firstMember.value(bot->roomId)->heard;
            QVERIFY2(bot->heard == order,
                     qPrintable(QString("user %1 heard %2 lines in room %3, its first member %4 "
                                        "in another order or number")
                                    .arg(bot->userId)
                                    .arg(bot->heard.size())
                                    .arg(bot->roomId)
                                    .arg(order.size())));
        }
        for (SoakBot* first : std::as_const(firstMember)) {
            QHash<quint32, quint32> nextFrom;
            for (quint64 key : first->heard) {
                const quint32 speaker = quint32(key >> 32);
                const SoakBot* from = botByUser.value(speaker);
                QVERIFY2(
                    from && from->roomId == first->roomId,
                    qPrintable(QString("room %1 heard user %2").arg(first->roomId).arg(speaker)));
                QCOMPARE(quint32(key), nextFrom[speaker]++);
            }
            for (const auto& bot : bots) {
                if (bot->roomId == first->roomId)
                    QCOMPARE(nextFrom.value(bot->userId), bot->sent);
            }
        }
        qInfo("%d lines heard %zu times in all",
              int(std::accumulate(saidInRoom.begin(), saidInRoom.end(), 0u)),
              std::accumulate(bots.begin(), bots.end(), size_t(0),
                              [](size_t sum, const auto& bot) { return sum + bot->heard.size(); }));

        int ended = 0;
        for (auto& bot : bots) {
            bot->client.disconnect(this);
            connect(&bot->client, &LobbyClient::closed, this,
                    [&ended](LobbyClient::CloseReason reason) {
                        QCOMPARE(reason, LobbyClient::NormalClose);
                        ++ended;
                    });
            bot->client.quit();
        }
        QTRY_COMPARE_WITH_TIMEOUT(ended, botCount, 30000);
    }

    void cleanupTestCase()
    {
        if (server && server->isRunning())
            QCOMPARE(server->stop(), 0);
    }

  private:
    QTemporaryDir dataFolder;
    std::unique_ptr<LocalLobbyServer> server;
};

QTEST_GUILESS_MAIN(SoakTest)
#include "tst_soak.moc"
