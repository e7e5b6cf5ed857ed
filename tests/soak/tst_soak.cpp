#include "lobbyclient.h"
#include "locallobbyserver.h"

#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace
{
constexpr int botCount = 200;
constexpr int roomCount = 10;
constexpr int chatMs = 30000;

struct SoakBot {
    LobbyClient client;
    QTimer chatTimer;
    quint32 userId = noRoom;
    quint32 roomId = noRoom;
    quint32 sent = 0;
    // Who said each line heard, and its number among what that speaker said.
    std::vector<std::pair<quint32, quint32>> heard;
};
} // namespace

class SoakTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dataFolder;
    LocalLobbyServer server{TILEPARLOR_SERVER_PROGRAM, dataFolder.path()};

  private slots:
    void initTestCase()
    {
        QByteArray config = "[limits]\nconnectionsPerAddress=1000\nchatLinesPerSecond=20\n"
                            "[rooms]\nsize=" +
                            QByteArray::number(roomCount) + "\n";
        for (int room = 1; room <= roomCount; ++room)
            config += QString("%1\\title=soak %1\n%1\\gameId=chat\n").arg(room).toUtf8();
        QVector<LobbyAccount> accounts;
        for (int i = 0; i < botCount; ++i)
            accounts.append(
                {QString("soak%1").arg(i), QString("pw%1").arg(i), QString("ソーク%1").arg(i)});
        QString error;
        QVERIFY(server.writeConfig(config));
        QVERIFY2(server.createAccounts(accounts, error) && server.start(error), qPrintable(error));
    }

    void cleanupTestCase() { QCOMPARE(server.stop(), 0); }

    // Every member of a room hears every line said there exactly once, the speaker included,
    // each speaker's lines in the order said, and all members in one and the same order.
    void everyLineReachesEveryMemberOnceInOrder()
    {
        std::vector<std::unique_ptr<SoakBot>> bots;
        int failures = 0, entered = 0;
        for (int i = 0; i < botCount; ++i) {
            SoakBot* bot = bots.emplace_back(std::make_unique<SoakBot>()).get();
            connect(&bot->client, &LobbyClient::roomEvent, this,
                    [bot](const LobbyRoomEvent& event) {
                        if (event.kind == EventSpeak && event.roomId == bot->roomId)
                            bot->heard.emplace_back(event.userId, event.utf8Text.toUInt());
                    });
            connect(&bot->client, &LobbyClient::closed, this, [bot, &failures] {
                ++failures;
                qWarning().noquote() << "bot" << bot->userId << bot->client.closeDetail();
            });
            bot->client.connectToServer("127.0.0.1", server.port());
            bot->client.authenticate(QString("soak%1").arg(i), QString("pw%1").arg(i),
                                     [bot](const LoginReply& reply) {
                                         if (reply.result == 0)
                                             bot->userId = reply.userId;
                                     });
        }
        QHash<QString, quint32> roomByTitle;
        bots.front()->client.listRooms([&](const QVector<RoomInfo>& rooms) {
            for (const RoomInfo& room : rooms)
                roomByTitle.insert(room.title, room.roomId);
        });
        // Every login hashes a password the expensive way, two at a time on this machine.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return failures > 0 || std::all_of(bots.begin(), bots.end(), [](const auto& bot) {
                           return bot->userId != noRoom;
                       });
            },
            900000));
        QCOMPARE(failures, 0);
        QTRY_COMPARE(roomByTitle.size(), roomCount);
        for (int i = 0; i < botCount; ++i) {
            SoakBot* bot = bots[size_t(i)].get();
            const quint32 roomId = roomByTitle.value(QString("soak %1").arg(i % roomCount + 1));
            bot->client.enterRoom(roomId, "", [bot, roomId, &entered](quint32 result, auto&) {
                bot->roomId = roomId;
                entered += result == 0 ? 1 : 0;
            });
            connect(&bot->chatTimer, &QTimer::timeout, this,
                    [bot] { bot->client.speak(bot->roomId, QString::number(bot->sent++)); });
        }
        QTRY_COMPARE_WITH_TIMEOUT(entered, botCount, 60000);
        for (auto& bot : bots)
            bot->chatTimer.start(200 + QRandomGenerator::global()->bounded(100));
        bool chatting = true;
        QTimer::singleShot(chatMs, this, [&chatting] { chatting = false; });
        QVERIFY(QTest::qWaitFor([&] { return !chatting || failures > 0; }, chatMs + 5000));
        QHash<quint32, size_t> saidInRoom;
        for (auto& bot : bots) {
            bot->chatTimer.stop();
            saidInRoom[bot->roomId] += bot->sent;
        }
        // Lines still in flight arrive within moments; a shortfall after that is reported by
        // the checks below, which say who missed what.
        const auto allHeard = [&] {
            return std::all_of(bots.begin(), bots.end(), [&](const auto& bot) {
                return bot->heard.size() >= saidInRoom.value(bot->roomId);
            });
        };
        if (!QTest::qWaitFor([&] { return failures > 0 || allHeard(); }))
            qWarning("lines still missing after the chat ended");
        QCOMPARE(failures, 0);

        QHash<quint32, SoakBot*> firstMember, botByUser;
        for (const auto& bot : bots) {
            firstMember.insert(bot->roomId, firstMember.value(bot->roomId, bot.get()));
            botByUser.insert(bot->userId, bot.get());
        }
        for (const auto& bot : bots)
            QVERIFY2(bot->heard == firstMember.value(bot->roomId)->heard,
                     qPrintable(QString("user %1 heard its room's lines in another order or number")
                                    .arg(bot->userId)));
        for (SoakBot* first : std::as_const(firstMember)) {
            QHash<quint32, quint32> nextFrom;
            for (const auto& [speaker, sequence] : first->heard) {
                QVERIFY(botByUser.value(speaker) && botByUser[speaker]->roomId == first->roomId);
                QCOMPARE(sequence, nextFrom[speaker]++);
            }
            for (const auto& bot : bots)
                QVERIFY(bot->roomId != first->roomId || nextFrom.value(bot->userId) == bot->sent);
        }

        int ended = 0;
        for (auto& bot : bots) {
            bot->client.disconnect(this);
            connect(&bot->client, &LobbyClient::closed, this,
                    [&ended](LobbyClient::CloseReason reason) {
                        ended += reason == LobbyClient::NormalClose ? 1 : 0;
                    });
            bot->client.quit();
        }
        QTRY_COMPARE_WITH_TIMEOUT(ended, botCount, 30000);
    }
};

QTEST_GUILESS_MAIN(SoakTest)
#include "tst_soak.moc"
