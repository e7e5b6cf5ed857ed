#include "botplayer.h"
#include "support/fakelobbyserver.h"
#include "support/wire.h"

#include <QSignalSpy>
#include <QtTest>

namespace
{
constexpr quint32 botId = 5;
constexpr quint32 otherId = 9;
constexpr quint32 roomId = 2;

QByteArray roomEvent(quint32 kind, quint32 user, quint32 other = 0, quint32 value = 0,
                     const QString& text = {})
{
    return notifyFrame(
        NotifyRoomEvent,
        Wire().u32(kind).u32(roomId).u32(user).u32(other).u32(value).u32(0).str(text));
}

QByteArray sent(const Wire& fields)
{
    return frame(fields);
}

QByteArray said(const QString& line)
{
    return sent(Wire().u32(Speak).u32(roomId).str(line));
}

QByteArray ok()
{
    return replyFrame(Wire().u32(0));
}

BotSettings quickSettings()
{
    BotSettings settings;
    settings.account = "bot1";
    settings.password = "pw";
    settings.room = "対戦部屋";
    settings.quiet = true;
    settings.thinkMs = 0;
    settings.restMs = 0;
    settings.battleMs = 0;
    settings.answerCooldownMs = 0;
    settings.chatLines = {"雑談"};
    settings.answerLines = {"呼びましたか？"};
    return settings;
}

// A bot walked through login and into room 2 (found by its title) by a scripted server.
struct Scene {
    FakeLobbyServer server;
    BotPlayer bot;

    explicit Scene(const BotSettings& settings) : bot(onPort(settings, server.port())) {}

    static BotSettings onPort(BotSettings settings, quint16 port)
    {
        settings.port = port;
        return settings;
    }

    bool enter(quint32 gameId)
    {
        QSignalSpy ready(&bot, &BotPlayer::ready);
        bot.start();
        const std::pair<QByteArray, QByteArray> script[] = {
            {clientHello(), serverHello(0)},
            {sent(Wire().u32(Authenticate).str("bot1").str("pw")),
             replyFrame(Wire().u32(0).u32(botId).u32(2).str(""))},
            {sent(Wire().u32(GetName).u32(botId)), replyFrame(Wire().u32(0).str("ボット"))},
            {sent(Wire().u32(GetCount)), replyFrame(Wire().u32(3))},
            {sent(Wire().u32(GetRoomInfo).u32(0)),
             replyFrame(Wire().u32(0).u32(0).str("雑談部屋").u32(1).u32(20).u32(0).u32(roomId))},
            {sent(Wire().u32(GetRoomInfo).u32(roomId)),
             replyFrame(Wire().u32(0).u32(0).str("対戦部屋").u32(1).u32(20).u32(0).u32(noRoom))},
            {sent(Wire().u32(EnterRoom).u32(roomId).str("")), replyFrame(Wire().u32(0).u32(2)) +
                                                                  replyFrame(Wire().u32(otherId)) +
                                                                  replyFrame(Wire().u32(botId))},
            {sent(Wire().u32(GetRoomInfo).u32(roomId)),
             replyFrame(
                 Wire().u32(0).u32(0).str("対戦部屋").u32(2).u32(20).u32(gameId).u32(noRoom))},
        };
        for (const auto& [request, answer] : script) {
            if (!server.expect(request)) {
                qWarning().noquote() << server.failure();
                return false;
            }
            server.send(answer);
        }
        return ready.wait() && bot.roomId() == roomId;
    }
};
} // namespace

class BotPlayerTest : public QObject
{
    Q_OBJECT

  private slots:
    // Each event is followed by someone entering: the greeting that answers it proves that
    // nothing was said before it unless the row expects an answer.
    void speaksWhenItShould_data()
    {
        QTest::addColumn<QByteArray>("trigger");
        QTest::addColumn<bool>("answers");

        QTest::newRow("addressed")
            << roomEvent(EventSpeak, otherId, 0, 0, "ボットさん、いる？") << true;
        QTest::newRow("not addressed")
            << roomEvent(EventSpeak, otherId, 0, 0, "こんにちは") << false;
        QTest::newRow("its own line") << roomEvent(EventSpeak, botId, 0, 0, "ボットです") << false;
        QTest::newRow("itself entering") << roomEvent(EventEnter, botId, 0, 0, "ボット") << false;
        QTest::newRow("another room") << notifyFrame(NotifyRoomEvent, Wire()
                                                                          .u32(EventSpeak)
                                                                          .u32(roomId + 1)
                                                                          .u32(otherId)
                                                                          .u32(0)
                                                                          .u32(0)
                                                                          .u32(0)
                                                                          .str("ボット？"))
                                      << false;
    }

    void speaksWhenItShould()
    {
        QFETCH(QByteArray, trigger);
        QFETCH(bool, answers);
        BotSettings settings = quickSettings();
        settings.greet = true;
        settings.answer = true;
        Scene scene(settings);
        QVERIFY(scene.enter(chatOnlyGameId));
        scene.server.send(trigger + roomEvent(EventEnter, otherId + 1, 0, 0, "ゲスト"));
        const QByteArray greeting = said("ようこそ、ゲストさん！");
        EXPECT_CLIENT_BYTES(scene.server, answers ? said("呼びましたか？") + greeting : greeting);
    }

    void chatsByItself()
    {
        BotSettings settings = quickSettings();
        settings.chatIntervalMs = 1;
        Scene scene(settings);
        QVERIFY(scene.enter(chatOnlyGameId));
        EXPECT_CLIENT_BYTES(scene.server, said("雑談") + said("雑談"));
    }

    // As host it waits for enough players, starts, ends the match after a while and recruits
    // again.
    void hostsAMatch()
    {
        BotSettings settings = quickSettings();
        settings.recruit = true;
        settings.greet = true;
        Scene scene(settings);
        QVERIFY(scene.enter(0));
        const QByteArray recruit = sent(Wire().u32(RecruitMatch).u32(roomId));
        EXPECT_CLIENT_BYTES(scene.server, recruit);
        // Still alone when someone comes in: it starts over, so that the newcomer hears of it.
        scene.server.send(ok() + roomEvent(EventRecruitStart, botId, 3, 3) +
                          roomEvent(EventEnter, otherId, 0, 0, "アリス"));
        EXPECT_CLIENT_BYTES(scene.server, said("ようこそ、アリスさん！") +
                                              sent(Wire().u32(CancelRecruit).u32(roomId)));
        scene.server.send(ok() + roomEvent(EventRecruitCancel, botId));
        EXPECT_CLIENT_BYTES(scene.server, recruit);
        // Two players of three: the greeting of a newcomer is all it says.
        scene.server.send(ok() + roomEvent(EventRecruitStart, botId, 3, 3) +
                          roomEvent(EventApply, otherId, botId, 2) +
                          roomEvent(EventEnter, otherId + 1, 0, 0, "ゲスト"));
        EXPECT_CLIENT_BYTES(scene.server, said("ようこそ、ゲストさん！"));
        scene.server.send(roomEvent(EventApply, otherId + 1, botId, 3));
        EXPECT_CLIENT_BYTES(scene.server, sent(Wire().u32(StartBattle).u32(roomId)));
        scene.server.send(ok() + roomEvent(EventGameStart, botId, 0, 0, "127.0.0.1:14141"));
        EXPECT_CLIENT_BYTES(scene.server, sent(Wire().u32(EndBattle).u32(roomId)));
        scene.server.send(ok() + roomEvent(EventGameEnd, botId));
        EXPECT_CLIENT_BYTES(scene.server, recruit);
    }

    // As guest it applies, plays, leaves the match after a while and applies again to the
    // next recruitment; a recruitment cancelled before its start frees it as well.
    void playsAsGuest_data()
    {
        QTest::addColumn<bool>("hostCancels");
        QTest::newRow("plays") << false;
        QTest::newRow("host cancels") << true;
    }

    void playsAsGuest()
    {
        QFETCH(bool, hostCancels);
        BotSettings settings = quickSettings();
        settings.apply = true;
        Scene scene(settings);
        QVERIFY(scene.enter(0));
        const QByteArray apply = sent(Wire().u32(ApplyMatch).u32(roomId).u32(otherId));
        scene.server.send(roomEvent(EventRecruitStart, otherId, 2, 2));
        EXPECT_CLIENT_BYTES(scene.server, apply);
        scene.server.send(ok() + roomEvent(EventApply, botId, otherId, 2));
        if (hostCancels) {
            scene.server.send(roomEvent(EventRecruitCancel, otherId));
        } else {
            scene.server.send(roomEvent(EventGameStart, otherId, 0, 0, "127.0.0.1:14141"));
            EXPECT_CLIENT_BYTES(scene.server, sent(Wire().u32(DropBattle).u32(roomId)));
            scene.server.send(ok() + roomEvent(EventGameLeave, botId, otherId));
        }
        scene.server.send(roomEvent(EventRecruitStart, otherId, 2, 2));
        EXPECT_CLIENT_BYTES(scene.server, apply);
    }

    void refusedLoginEndsWithFailure()
    {
        Scene scene(quickSettings());
        QSignalSpy finished(&scene.bot, &BotPlayer::finished);
        scene.bot.start();
        EXPECT_CLIENT_BYTES(scene.server, clientHello());
        scene.server.send(serverHello(0));
        EXPECT_CLIENT_BYTES(scene.server, sent(Wire().u32(Authenticate).str("bot1").str("pw")));
        scene.server.send(replyFrame(Wire().u32(1).u32(0).u32(0).str("")));
        EXPECT_CLIENT_BYTES(scene.server, sent(Wire().u32(Quit)));
        scene.server.send(notifyFrame(CloseNotice, Wire().u32(CloseNormal)));
        QVERIFY(finished.wait());
        QCOMPARE(finished.first().first().toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(BotPlayerTest)
#include "tst_botplayer.moc"
