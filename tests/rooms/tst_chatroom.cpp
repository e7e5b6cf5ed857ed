#include "rooms/chatroomform.h"
#include "support/dialogtesting.h"
#include "support/lobbywindow.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>

namespace
{
constexpr quint32 taro = LobbyWindow::ownId;
constexpr quint32 hanako = 5;

QStringList listed(const ChatRoomForm* form)
{
    QStringList names;
    for (const QListWidgetItem* item :
         child<QListWidget>(form, "listUser")->findItems("*", Qt::MatchWildcard))
        names << item->text();
    return names;
}

QStringList logLines(const ChatRoomForm* form)
{
    return child<QPlainTextEdit>(form, "textLog")->toPlainText().split('\n');
}

QString userTitle(const ChatRoomForm* form)
{
    return child<QGroupBox>(form, "groupUser")->title();
}

// Room 4 with たろう and はなこ (the server counts three users), once its entry line is in.
ChatRoomForm* roomFour(LobbyWindow& run)
{
    RoomInfo info;
    info.userCount = 3;
    ChatRoomForm* form =
        run.loggedIn() ? run.openRoom(4, info, {{taro, "たろう"}, {hanako, "はなこ"}}) : nullptr;
    const auto entered = [form] { return logLines(form).last() == "*** 入室しました ***"; };
    return form && QTest::qWaitFor(entered, 5000) ? form : nullptr;
}

// Sends the events and waits until a chat line sent after them (by a stranger, whoever left) shows.
bool routed(LobbyWindow& run, const ChatRoomForm* form, const QList<Event>& events)
{
    QByteArray frames;
    for (const Event& event : events + QList<Event>{{EventSpeak, 99, 0, "end"}})
        frames += roomEventFrame(4, event);
    run.server.send(frames);
    return QTest::qWaitFor([form] { return logLines(form).last() == "[Unknown] end"; }, 5000);
}
} // namespace

class ChatRoomTest : public QObject
{
    Q_OBJECT

  private slots:
    void initialisation_data();
    void initialisation();
    void commands_data();
    void commands();
    void eventLines_data();
    void eventLines();
    void recruitments_data();
    void recruitments();
};

void ChatRoomTest::initialisation_data()
{
    QTest::addColumn<RoomInfo>("info");
    QTest::addColumn<QList<RoomMember>>("members");
    QTest::addColumn<QString>("game");
    QTest::addColumn<QString>("users");
    RoomInfo info;
    info.title = "雑談";
    info.userCount = 2;
    QTest::newRow("chat only, one member unknown")
        << info << QList<RoomMember>{{taro, "たろう"}, {hanako, "", 1}} << "なし"
        << "参加者 2/8";
    info.gameId = 0;
    info.capacity = 10001;
    // Nothing to fetch: the room is ready as soon as its information is in.
    QTest::newRow("game room without limit, no members")
        << info << QList<RoomMember>{} << "星環演武"
        << "参加者 2/無制限";
}

void ChatRoomTest::initialisation()
{
    QFETCH(RoomInfo, info);
    QFETCH(QList<RoomMember>, members);
    QFETCH(QString, game);
    QFETCH(QString, users);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomForm* form = run.openRoom(3, info, members);
    QVERIFY2(form, qPrintable(run.server.failure()));
    EXPECT_NOTHING_MORE_FROM(run);
    QCOMPARE(run.tabs()->currentWidget(), form);
    QCOMPARE(listed(form),
             members.isEmpty() ? QStringList() : QStringList({"たろう", "(Invalid User)"}));
    QCOMPARE(form->userName(hanako), members.isEmpty() ? "Unknown" : "(Invalid User)");
    QCOMPARE(textOf(form, "lineGame"), game);
    QCOMPARE(child<QPushButton>(form, "pushButtonBattle")->isEnabled(), info.gameId == 0);
    QCOMPARE(userTitle(form), users);
    QTRY_COMPARE(logLines(form), QStringList{"*** 入室しました ***"});
    QTRY_COMPARE(run.allRoomsLog(), QString("(3) *** 入室しました ***"));
    QCOMPARE(run.window->roomTitle(3), info.title);
    QCOMPARE(run.window->roomGameId(3), uint(info.gameId));
    QCOMPARE(run.window->roomTitle(4), QString("No Title"));
    QCOMPARE(run.window->roomGameId(4), uint(chatOnlyGameId));
}

void ChatRoomTest::commands_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("sent");
    // The reply's result and the box a refusal shows; no reply to a chat line.
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("refusal");
    const QByteArray speak = request(Speak, Wire().u32(9).str("こんにちは"));
    QTest::newRow("speak by Return") << "" << speak << -1 << QStringList();
    QTest::newRow("speak by button") << "btnSpeak" << speak << -1 << QStringList();
    QTest::newRow("nothing to say") << "" << QByteArray() << -1 << QStringList();
    const QByteArray leave = request(LeaveRoom, Wire().u32(9));
    QTest::newRow("left") << "pushButtonLeave" << leave << 0 << QStringList();
    QTest::newRow("leaving refused")
        << "pushButtonLeave" << leave << 1
        << QStringList{"チャットルームから退室", "退室できませんでした。"};
    QTest::newRow("recruiting refused")
        << "pushButtonBattle" << request(RecruitMatch, Wire().u32(9)) << 1
        << QStringList{"対戦マッチング", "対戦相手募集に失敗しました。"};
}

// The commands of game room 9, opened after room 5.
void ChatRoomTest::commands()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, sent);
    QFETCH(int, result);
    QFETCH(QStringList, refusal);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    RoomInfo game;
    game.gameId = 0;
    ChatRoomForm* form = run.openRoom(5, RoomInfo(), {}) ? run.openRoom(9, game, {}) : nullptr;
    QVERIFY2(form, qPrintable(run.server.failure()));
    QTRY_COMPARE(logLines(form), QStringList{"*** 入室しました ***"});
    auto* line = child<QLineEdit>(form, "lineSpeak");
    line->setText(sent.isEmpty() ? "" : "こんにちは");
    button.isEmpty() ? QTest::keyClick(line, Qt::Key_Return)
                     : child<QPushButton>(form, qPrintable(button))->click();
    if (!sent.isEmpty())
        EXPECT_CLIENT_BYTES(run.server, sent);
    if (result < 0) {
        // A message, not a command; and the line waits for the server's echo.
        EXPECT_NOTHING_MORE_FROM(run);
        QVERIFY(line->text().isEmpty() && run.window->isEnabled());
        QCOMPARE(logLines(form), QStringList{"*** 入室しました ***"});
        return;
    }
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    run.server.send(replyFrame(Wire().u32(result)));
    QTRY_VERIFY(run.window->isEnabled());
    if (!refusal.isEmpty()) {
        QTRY_COMPARE(box->handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Information, refusal[0], refusal[1]);
        QCOMPARE(run.room(9), form);
        return;
    }
    QTRY_COMPARE(run.tabs()->count(), 2);
    QCOMPARE(run.tabs()->currentWidget(), run.room(5));
    QTRY_VERIFY(run.allRoomsLog().endsWith("(9) *** 退室しました ***"));
    QCOMPARE(box->handled(), 0);
}

void ChatRoomTest::eventLines_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("members");
    QTest::addColumn<QString>("users");
    const QStringList both{"たろう", "はなこ"};
    const auto row = [&both](const char* name, const Event& event, const QString& line,
                             QStringList members = {}, const QString& users = "参加者 3/8") {
        QTest::newRow(name) << event << line << (members.isEmpty() ? both : members) << users;
    };
    row("speak", {EventSpeak, hanako, 0, "やあ"}, "[はなこ] やあ");
    row("speak of a stranger", {EventSpeak, 99, 0, "誰"}, "[Unknown] 誰");
    row("enter", {EventEnter, 8, 0, "じろう"}, "*** じろうさんが入室しました ***",
        {"たろう", "はなこ", "じろう"});
    row("enter again renames in place", {EventEnter, hanako, 0, "花子"},
        "*** 花子さんが入室しました ***", {"たろう", "花子"}, "参加者 2/8");
    row("leave", {EventLeave, hanako}, "*** はなこさんが退室しました ***", {"たろう"},
        "参加者 1/8");
    row("leave of a stranger", {EventLeave, 99}, "*** 入室しました ***", both, "参加者 2/8");
    row("recruit start", {EventRecruitStart, hanako},
        "*** はなこさんが対戦相手を募集しはじめました ***");
    row("recruit cancel", {EventRecruitCancel, hanako},
        "*** はなこさんが対戦相手の募集をキャンセルしました ***");
    row("apply", {EventApply, taro, hanako}, "*** はなこさんの募集にたろうさんが応募しました ***");
    row("apply cancel", {EventApplyCancel, taro, hanako},
        "*** はなこさんの募集に応募していたたろうさんがキャンセルしました ***");
    row("game start", {EventGameStart, hanako, 0, "127.0.0.1"},
        "*** はなこさんが主催しているゲームが開始しました ***");
    row("game end", {EventGameEnd, hanako}, "*** はなこさんが主催していたゲームが終了しました ***");
    row("game leave", {EventGameLeave, taro, hanako},
        "*** はなこさんが主催しているゲームからたろうさんが抜けました ***");
}

void ChatRoomTest::eventLines()
{
    QFETCH(Event, event);
    QFETCH(QString, line);
    QFETCH(QStringList, members);
    QFETCH(QString, users);
    LobbyWindow run;
    ChatRoomForm* form = roomFour(run);
    QVERIFY2(form, qPrintable(run.server.failure()));
    QVERIFY(routed(run, form, {event}));
    QCOMPARE(logLines(form).mid(logLines(form).size() - 2, 1), QStringList{line});
    QTRY_VERIFY(run.allRoomsLog().endsWith("(4) " + line + "\n(4) [Unknown] end"));
    QCOMPARE(listed(form), members);
    QCOMPARE(userTitle(form), users);
}

void ChatRoomTest::recruitments_data()
{
    QTest::addColumn<QList<Event>>("events");
    // はなこ's recruitment afterwards: whether it exists, and its applicants in order.
    QTest::addColumn<bool>("recruiting");
    QTest::addColumn<QList<uint>>("applicants");
    const Event start{EventRecruitStart, hanako};
    const Event taroApplies{EventApply, taro, hanako};
    const Event jiroApplies{EventApply, 8, hanako};
    const auto row = [](const char* name, const QList<Event>& events, bool recruiting,
                        const QList<uint>& applicants) {
        QTest::newRow(name) << events << recruiting << applicants;
    };
    row("applied in order, once each", {start, taroApplies, jiroApplies, taroApplies}, true,
        {taro, 8});
    row("withdrawn", {start, taroApplies, jiroApplies, {EventApplyCancel, taro, hanako}}, true,
        {8});
    row("no recruitment to apply to", {taroApplies}, false, {});
    row("started again keeps applicants", {start, taroApplies, start}, true, {taro});
    row("cancelled", {start, taroApplies, {EventRecruitCancel, hanako}}, false, {});
    // Without たろう: his own game would start a battle.
    row("kept while the game runs", {start, jiroApplies, {EventGameStart, hanako}}, true, {8});
    row("game over", {start, {EventGameStart, hanako}, {EventGameEnd, hanako}}, false, {});
    // Leaving the room is not leaving the recruitment.
    row("applicant left the room", {start, taroApplies, {EventLeave, taro}}, true, {taro});
}

void ChatRoomTest::recruitments()
{
    QFETCH(QList<Event>, events);
    QFETCH(bool, recruiting);
    QFETCH(QList<uint>, applicants);
    LobbyWindow run;
    ChatRoomForm* form = roomFour(run);
    QVERIFY2(form, qPrintable(run.server.failure()));
    QVERIFY(routed(run, form, events));
    QCOMPARE(form->isRecruitmentMember(hanako, hanako), recruiting);
    QCOMPARE(form->isRecruitmentMember(hanako, 8), applicants.contains(8));
    QCOMPARE(form->isRecruitmentMember(taro, taro), false);
    if (recruiting)
        QCOMPARE(form->findRecruitment(hanako).applicants, applicants);
}

QTEST_MAIN(ChatRoomTest)
#include "tst_chatroom.moc"
