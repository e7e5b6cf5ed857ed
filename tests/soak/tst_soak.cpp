// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobbyclient.h"
#include "locallobbyserver.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <array>

constexpr int botCount = 200, roomCount = 10, chatMs = 30000;

struct SoakBot {
    LobbyClient client;
    QTimer chatTimer;
    quint32 userId = 0, roomId = 0, sent = 0;
    bool entered = false;
    // Who said each line heard, and its number among what that speaker said.
    QList<std::pair<quint32, quint32>> heard;
};

// Many bots chat in a few rooms of the real server for a while. Every member of a room hears
// every line said there exactly once, the speaker included, each speaker's lines in the order
// said, and all members in one and the same order.
class SoakTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dataFolder;
    LocalLobbyServer server{TILEPARLOR_SERVER_PROGRAM, dataFolder.path()};
    // Bot i is in room i % roomCount: the first bots are one member of each room.
    std::array<SoakBot, botCount> bots;
    int failures = 0;

    // Until every bot meets the condition, or one of them has lost its connection.
    template <class Condition> bool everyBot(Condition condition, int timeoutMs)
    {
        const auto done = [&] { return std::all_of(bots.begin(), bots.end(), condition); };
        return QTest::qWaitFor([&] { return failures > 0 || done(); }, timeoutMs) && !failures;
    }

  private slots:
    void everyLineReachesEveryMemberOnceInOrder()
    {
        // Chat rooms 1 to 10 in the configuration are rooms 0 to 9 in the lobby.
        QString config =
            "[limits]\nconnectionsPerAddress=1000\nchatLinesPerSecond=20\n"
            "[accounts]\npasswordJobsPerAddress=1000\npasswordJobsWaiting=1000\n[rooms]\n";
        for (int room = 1; room <= roomCount; ++room)
            config += QString("%1\\title=soak %1\n%1\\gameId=chat\n").arg(room);
        config += QString("size=%1\n").arg(roomCount);
        QVector<LobbyAccount> accounts;
        for (int i = 0; i < botCount; ++i)
            accounts.append({QString("soak%1").arg(i), "pw", QString("ソーク%1").arg(i)});
        QString error;
        QVERIFY(server.writeConfig(config.toUtf8()));
        QVERIFY2(server.createAccounts(accounts, error) && server.start(error), qPrintable(error));
        for (int i = 0; i < botCount; ++i) {
            SoakBot& bot = bots[size_t(i)];
            bot.roomId = quint32(i % roomCount);
            connect(&bot.client, &LobbyClient::roomEvent, this,
                    [&bot](const RoomEventFields& event) {
                        if (event.eventKind == EventSpeak)
                            bot.heard.append({event.userId, event.utf8Text.toUInt()});
                    });
            connect(&bot.client, &LobbyClient::closed, this,
                    [this](auto reason) { failures += reason != LobbyClient::NormalClose; });
            connect(&bot.chatTimer, &QTimer::timeout, this,
                    [&bot] { bot.client.speak(bot.roomId, QString::number(bot.sent++)); });
            bot.client.connectToServer("127.0.0.1", server.port());
            bot.client.authenticate(QString("soak%1").arg(i), "pw",
                                    [&bot](const LoginReply& reply) { bot.userId = reply.userId; });
            bot.client.enterRoom(bot.roomId, "",
                                 [&bot](quint32 result, auto&) { bot.entered = !result; });
        }
        // Every login hashes a password the expensive way, two at a time on this machine.
        QVERIFY(everyBot([](const SoakBot& bot) { return bot.entered; }, 900000));
        for (SoakBot& bot : bots)
            bot.chatTimer.start(200 + QRandomGenerator::global()->bounded(100));
        QVERIFY(!QTest::qWaitFor([this] { return failures > 0; }, chatMs));
        std::array<qsizetype, roomCount> saidInRoom{};
        for (SoakBot& bot : bots) {
            bot.chatTimer.stop();
            saidInRoom[bot.roomId] += bot.sent;
        }
        // Lines still in flight arrive within moments; a shortfall after that, or a lost
        // connection that caused one, is reported by the checks below.
        everyBot([&](const SoakBot& bot) { return bot.heard.size() >= saidInRoom[bot.roomId]; },
                 5000);
        for (const SoakBot& bot : bots) {
            const auto& heard = bots[bot.roomId].heard;
            QCOMPARE(bot.heard, heard);
            QCOMPARE(heard.size(), saidInRoom[bot.roomId]);
            quint32 next = 0;
            for (const auto& [speaker, sequence] : heard)
                next += speaker == bot.userId && sequence == next;
            QCOMPARE(next, bot.sent);
        }
        QCOMPARE(server.stop(), 0);
    }
};

QTEST_GUILESS_MAIN(SoakTest)
#include "tst_soak.moc"
