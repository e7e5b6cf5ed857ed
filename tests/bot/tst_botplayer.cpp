// SPDX-License-Identifier: GPL-3.0-or-later
#include "botplayer.h"
#include "support/fakelobbyserver.h"
#include "support/wire.h"

#include <QtTest>

// Each step: the bytes the bot must send next (none: go on at once), then the server's answer.
using Script = std::vector<std::pair<QByteArray, QByteArray>>;
Q_DECLARE_METATYPE(Script)

constexpr quint32 botId = 5, otherId = 9, roomId = 2;
enum Role { Greets = 1, Answers = 2, Recruits = 4, Applies = 8 };

class BotPlayerTest : public QObject
{
    Q_OBJECT

    static inline const QByteArray ok = frameBytes(ResultReply{0});

    static QByteArray roomEvent(quint32 kind, quint32 user, quint32 other = 0, quint32 value = 0,
                                const QString& text = {}, quint32 room = roomId)
    {
        return roomEventFrame(room, {kind, user, other, text, value});
    }

    static QByteArray enters(quint32 user, const QString& name)
    {
        return roomEvent(EventEnter, user, 0, 0, name);
    }

    template <class Request> static QByteArray inRoom() { return frameBytes(Request{roomId}); }

    static QByteArray said(const QString& line) { return frameBytes(SpeakRequest{roomId, line}); }
    static QByteArray greeting(const QString& name) { return said("ようこそ、" + name + "さん！"); }

    static QByteArray roomInfo(const QString& title, quint32 users, quint32 gameId, quint32 next)
    {
        return frameBytes(RoomInfoReply{0, 0, title, users, 20, gameId, next});
    }

    // From the hello through the login to room 2, which the bot finds by its title, then the
    // steps given.
    static Script entering(quint32 gameId, const Script& steps)
    {
        Script script{
            {clientHello(), serverHello(0)},
            {authenticateRequest("", ""), authenticateReply(0, botId, 2, "")},
            {getNameRequest(botId), nameReply(0, "ボット")},
            {frameBytes(GetCountRequest{}), frameBytes(ResultReply{3})},
            {getRoomInfoRequest(0), roomInfo("雑談部屋", 1, 0, roomId)},
            {getRoomInfoRequest(roomId), roomInfo("対戦部屋", 1, 0, noRoom)},
            {frameBytes(EnterRoomRequest{roomId, ""}), enteredReply({otherId, botId})},
            {getRoomInfoRequest(roomId), roomInfo("対戦部屋", 2, gameId, noRoom)},
        };
        script.insert(script.end(), steps.begin(), steps.end());
        return script;
    }

    static void row(const char* name, int roles, quint32 gameId, const Script& steps)
    {
        QTest::newRow(name) << roles << entering(gameId, steps);
    }

  private slots:
    void behaves_data()
    {
        QTest::addColumn<int>("roles");
        QTest::addColumn<Script>("script");
        // Each event is followed by someone entering: the greeting that answers it proves that
        // nothing was said before it unless the row expects an answer.
        const auto speaks = [](const char* name, const QByteArray& event,
                               const QByteArray& answer) {
            row(name, Greets | Answers, chatOnlyGameId,
                {{{}, event + enters(otherId + 1, "ゲスト")}, {answer + greeting("ゲスト"), {}}});
        };
        const auto line = [](quint32 user, const QString& text, quint32 room = roomId) {
            return roomEvent(EventSpeak, user, 0, 0, text, room);
        };
        speaks("addressed", line(otherId, "ボットさん、いる？"), said("呼びましたか？"));
        speaks("not addressed", line(otherId, "こんにちは"), {});
        speaks("its own line", line(botId, "ボットです"), {});
        speaks("itself entering", enters(botId, "ボット"), {});
        speaks("another room", line(otherId, "ボット？", roomId + 1), {});
        // As host it waits for enough players, starts, ends the match after a while and
        // recruits again. Still alone when someone comes in, it starts over so that the newcomer
        // hears of it; with two players of three, the greeting of a newcomer is all it says.
        const QByteArray recruiting = ok + roomEvent(EventRecruitStart, botId, 3, 3);
        row("hosts", Recruits | Greets, 0,
            {{inRoom<RecruitMatchRequest>(), recruiting + enters(otherId, "アリス")},
             {greeting("アリス") + inRoom<CancelRecruitRequest>(),
              ok + roomEvent(EventRecruitCancel, botId)},
             {inRoom<RecruitMatchRequest>(), recruiting + roomEvent(EventApply, otherId, botId, 2) +
                                                 enters(otherId + 1, "ゲスト")},
             {greeting("ゲスト"), roomEvent(EventApply, otherId + 1, botId, 3)},
             {inRoom<StartBattleRequest>(),
              ok + roomEvent(EventGameStart, botId, 0, 0, "127.0.0.1:14141")},
             {inRoom<EndBattleRequest>(), ok + roomEvent(EventGameEnd, botId)},
             {inRoom<RecruitMatchRequest>(), {}}});
        // As guest it applies, plays, leaves the match after a while and applies again to the
        // next recruitment; a recruitment cancelled before its start frees it as well.
        const QByteArray recruitment = roomEvent(EventRecruitStart, otherId, 2, 2);
        const QByteArray apply = frameBytes(ApplyMatchRequest{roomId, otherId});
        const QByteArray applied = ok + roomEvent(EventApply, botId, otherId, 2);
        row("plays", Applies, 0,
            {{{}, recruitment},
             {apply, applied + roomEvent(EventGameStart, otherId, 0, 0, "127.0.0.1:14141")},
             {inRoom<DropBattleRequest>(),
              ok + roomEvent(EventGameLeave, botId, otherId) + recruitment},
             {apply, applied + roomEvent(EventRecruitCancel, otherId) + recruitment},
             {apply, {}}});
    }

    // A bot with no delays, walked through its script by a scripted server.
    void behaves()
    {
        QFETCH(int, roles);
        QFETCH(Script, script);
        FakeLobbyServer server;
        BotSettings settings;
        settings.port = server.port();
        settings.room = "対戦部屋";
        settings.thinkMs = settings.restMs = settings.battleMs = settings.answerCooldownMs = 0;
        settings.answerLines = {"呼びましたか？"};
        settings.greet = roles & Greets;
        settings.answer = roles & Answers;
        settings.recruit = roles & Recruits;
        settings.apply = roles & Applies;
        BotPlayer bot(settings);
        bot.start();
        for (const auto& [expected, answer] : script) {
            EXPECT_CLIENT_BYTES(server, expected);
            server.send(answer);
        }
    }
};

QTEST_GUILESS_MAIN(BotPlayerTest)
#include "tst_botplayer.moc"
