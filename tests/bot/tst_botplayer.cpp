#include "botplayer.h"
#include "support/fakelobbyserver.h"
#include "support/wire.h"

#include <QSignalSpy>
#include <QtTest>

namespace
{
constexpr quint32 botId = 5, otherId = 9, roomId = 2;

QByteArray roomEvent(quint32 kind, quint32 user, quint32 other = 0, quint32 value = 0,
                     const QString& text = {}, quint32 room = roomId)
{
    return notifyFrame(NotifyRoomEvent,
                       Wire().u32(kind).u32(room).u32(user).u32(other).u32(value).u32(0).str(text));
}

QByteArray said(const QString& line)
{
    return frame(Wire().u32(Speak).u32(roomId).str(line));
}

QByteArray inRoom(quint32 code, const QByteArray& more = {})
{
    return frame(Wire().u32(code).u32(roomId).raw(more));
}

QByteArray roomInfo(const QString& title, quint32 users, quint32 gameId, quint32 next)
{
    return replyFrame(Wire().u32(0).u32(0).str(title).u32(users).u32(20).u32(gameId).u32(next));
}

const QByteArray ok = replyFrame(Wire().u32(0));

// A bot with no delays, walked by a scripted server through its login into room 2, which it
// finds by its title.
struct Scene {
    FakeLobbyServer server;
    BotPlayer bot;

    explicit Scene(BotSettings settings) : bot((settings.port = server.port(), settings)) {}

    static BotSettings quick()
    {
        BotSettings settings;
        settings.account = "bot1";
        settings.password = "pw";
        settings.room = "対戦部屋";
        settings.quiet = true;
        settings.thinkMs = settings.restMs = settings.battleMs = settings.answerCooldownMs = 0;
        settings.chatLines = {"雑談"};
        settings.answerLines = {"呼びましたか？"};
        return settings;
    }

    // Each answer follows the request it waits for, if any.
    bool script(const std::vector<std::pair<QByteArray, QByteArray>>& exchanges)
    {
        for (const auto& [request, answer] : exchanges) {
            if (!request.isEmpty() && !server.expect(request))
                return false;
            server.send(answer);
        }
        return true;
    }

    bool enter(quint32 gameId)
    {
        QSignalSpy ready(&bot, &BotPlayer::ready);
        bot.start();
        return script({
                   {clientHello(), serverHello(0)},
                   {frame(Wire().u32(Authenticate).str("bot1").str("pw")),
                    replyFrame(Wire().u32(0).u32(botId).u32(2).str(""))},
                   {frame(Wire().u32(GetName).u32(botId)), replyFrame(Wire().u32(0).str("ボット"))},
                   {frame(Wire().u32(GetCount)), replyFrame(Wire().u32(3))},
                   {frame(Wire().u32(GetRoomInfo).u32(0)), roomInfo("雑談部屋", 1, 0, roomId)},
                   {inRoom(GetRoomInfo), roomInfo("対戦部屋", 1, 0, noRoom)},
                   {inRoom(EnterRoom, Wire().str("")), replyFrame(Wire().u32(0).u32(2)) +
                                                           replyFrame(Wire().u32(otherId)) +
                                                           replyFrame(Wire().u32(botId))},
                   {inRoom(GetRoomInfo), roomInfo("対戦部屋", 2, gameId, noRoom)},
               }) &&
               ready.wait() && bot.roomId() == roomId;
    }
};
} // namespace

#define EXPECT_SENT(scene, bytes)                                                                  \
    QVERIFY2((scene).server.expect(bytes), qPrintable((scene).server.failure()))

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
        QTest::newRow("another room")
            << roomEvent(EventSpeak, otherId, 0, 0, "ボット？", roomId + 1) << false;
    }

    void speaksWhenItShould()
    {
        QFETCH(QByteArray, trigger);
        QFETCH(bool, answers);
        BotSettings settings = Scene::quick();
        settings.greet = settings.answer = true;
        Scene scene(settings);
        QVERIFY(scene.enter(chatOnlyGameId));
        scene.server.send(trigger + roomEvent(EventEnter, otherId + 1, 0, 0, "ゲスト"));
        const QByteArray greeting = said("ようこそ、ゲストさん！");
        EXPECT_SENT(scene, answers ? said("呼びましたか？") + greeting : greeting);
    }

    void chatsByItself()
    {
        BotSettings settings = Scene::quick();
        settings.chatIntervalMs = 1;
        Scene scene(settings);
        QVERIFY(scene.enter(chatOnlyGameId));
        EXPECT_SENT(scene, said("雑談") + said("雑談"));
    }

    // As host it waits for enough players, starts, ends the match after a while and recruits
    // again. Still alone when someone comes in, it starts over so that the newcomer hears of
    // it; with two players of three, the greeting of a newcomer is all it says.
    void hostsAMatch()
    {
        BotSettings settings = Scene::quick();
        settings.recruit = settings.greet = true;
        Scene scene(settings);
        QVERIFY(scene.enter(0));
        EXPECT_SENT(scene, inRoom(RecruitMatch));
        QVERIFY(scene.script({
            {{},
             ok + roomEvent(EventRecruitStart, botId, 3, 3) +
                 roomEvent(EventEnter, otherId, 0, 0, "アリス")},
            {said("ようこそ、アリスさん！") + inRoom(CancelRecruit),
             ok + roomEvent(EventRecruitCancel, botId)},
            {inRoom(RecruitMatch), ok + roomEvent(EventRecruitStart, botId, 3, 3) +
                                       roomEvent(EventApply, otherId, botId, 2) +
                                       roomEvent(EventEnter, otherId + 1, 0, 0, "ゲスト")},
            {said("ようこそ、ゲストさん！"), roomEvent(EventApply, otherId + 1, botId, 3)},
            {inRoom(StartBattle), ok + roomEvent(EventGameStart, botId, 0, 0, "127.0.0.1:14141")},
            {inRoom(EndBattle), ok + roomEvent(EventGameEnd, botId)},
        }));
        EXPECT_SENT(scene, inRoom(RecruitMatch));
    }

    // As guest it applies, plays, leaves the match after a while and applies again to the
    // next recruitment; a recruitment cancelled before its start frees it as well.
    void playsAsGuest_data()
    {
        QTest::addColumn<bool>("plays");
        QTest::newRow("plays") << true;
        QTest::newRow("host cancels") << false;
    }

    void playsAsGuest()
    {
        QFETCH(bool, plays);
        BotSettings settings = Scene::quick();
        settings.apply = true;
        Scene scene(settings);
        QVERIFY(scene.enter(0));
        const QByteArray apply = inRoom(ApplyMatch, Wire().u32(otherId));
        const QByteArray recruitment = roomEvent(EventRecruitStart, otherId, 2, 2);
        QVERIFY(scene.script(
            {{{}, recruitment}, {apply, ok + roomEvent(EventApply, botId, otherId, 2)}}));
        if (plays)
            QVERIFY(scene.script(
                {{{}, roomEvent(EventGameStart, otherId, 0, 0, "127.0.0.1:14141")},
                 {inRoom(DropBattle), ok + roomEvent(EventGameLeave, botId, otherId)}}));
        else
            scene.server.send(roomEvent(EventRecruitCancel, otherId));
        scene.server.send(recruitment);
        EXPECT_SENT(scene, apply);
    }

    void refusedLoginEndsWithFailure()
    {
        Scene scene(Scene::quick());
        QSignalSpy finished(&scene.bot, &BotPlayer::finished);
        scene.bot.start();
        QVERIFY(scene.script({{clientHello(), serverHello(0)},
                              {frame(Wire().u32(Authenticate).str("bot1").str("pw")),
                               replyFrame(Wire().u32(1).u32(0).u32(0).str(""))},
                              {frame(Wire().u32(Quit)), notifyFrame(CloseNotice, Wire().u32(0))}}));
        QVERIFY(finished.wait());
        QCOMPARE(finished.first().first().toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(BotPlayerTest)
#include "tst_botplayer.moc"
