#include "rooms/chatroomform.h"
#include "support/dialogtesting.h"
#include "support/lobbyframes.h"
#include "support/lobbywindow.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>

namespace
{
constexpr quint32 roomId = 4;
constexpr quint32 hanako = 5;
constexpr quint32 taro = LobbyWindow::ownId;
constexpr quint32 stranger = 99;
const QString entered = "*** 入室しました ***";

// Room 4 with たろう and はなこ; the server counts three users at entry.
ChatRoomForm* openRoomFour(LobbyWindow& run)
{
    RoomInfo info;
    info.userCount = 3;
    if (!run.loggedIn())
        return nullptr;
    ChatRoomForm* form = run.openRoom(roomId, info, {{taro, "たろう"}, {hanako, "はなこ"}});
    if (form && !QTest::qWaitFor([form] {
            return child<QPlainTextEdit>(form, "textLog")->toPlainText() == entered;
        }))
        return nullptr;
    return form;
}

void send(LobbyWindow& run, const QList<Event>& events)
{
    QByteArray frames;
    for (const Event& event : events)
        frames += roomEventFrame(roomId, event);
    run.server.send(frames);
}

QStringList lines(const QObject* owner)
{
    return child<QPlainTextEdit>(owner, "textLog")->toPlainText().split('\n');
}
} // namespace

class RoomEventsTest : public QObject
{
    Q_OBJECT

  private slots:
    void eventLines_data();
    void eventLines();
    void recruitments_data();
    void recruitments();
};

void RoomEventsTest::eventLines_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("members");
    QTest::addColumn<QString>("userTitle");
    const QStringList both{"たろう", "はなこ"};
    const auto row = [](const char* name, const Event& event, const QString& line,
                        const QStringList& members, const QString& userTitle) {
        QTest::newRow(name) << event << line << members << userTitle;
    };
    row("speak", {EventSpeak, hanako, 0, "やあ"}, "[はなこ] やあ", both, "参加者 3/8");
    row("speak of a stranger", {EventSpeak, stranger, 0, "誰"}, "[Unknown] 誰", both, "参加者 3/8");
    row("enter", {EventEnter, 8, 0, "じろう"}, "*** じろうさんが入室しました ***",
        {"たろう", "はなこ", "じろう"}, "参加者 3/8");
    row("enter again renames in place", {EventEnter, hanako, 0, "花子"},
        "*** 花子さんが入室しました ***", {"たろう", "花子"}, "参加者 2/8");
    row("leave", {EventLeave, hanako}, "*** はなこさんが退室しました ***", {"たろう"},
        "参加者 1/8");
    row("leave of a stranger", {EventLeave, stranger}, entered, both, "参加者 2/8");
    row("recruit start", {EventRecruitStart, hanako, 2, "", 4},
        "*** はなこさんが対戦相手を募集しはじめました ***", both, "参加者 3/8");
    row("recruit cancel", {EventRecruitCancel, hanako},
        "*** はなこさんが対戦相手の募集をキャンセルしました ***", both, "参加者 3/8");
    row("apply", {EventApply, taro, hanako, "", 2},
        "*** はなこさんの募集にたろうさんが応募しました ***", both, "参加者 3/8");
    row("apply cancel", {EventApplyCancel, taro, hanako, "", 1},
        "*** はなこさんの募集に応募していたたろうさんがキャンセルしました ***", both, "参加者 3/8");
    row("game start", {EventGameStart, hanako, 0, "127.0.0.1"},
        "*** はなこさんが主催しているゲームが開始しました ***", both, "参加者 3/8");
    row("game end", {EventGameEnd, hanako}, "*** はなこさんが主催していたゲームが終了しました ***",
        both, "参加者 3/8");
    row("game leave", {EventGameLeave, taro, hanako},
        "*** はなこさんが主催しているゲームからたろうさんが抜けました ***", both, "参加者 3/8");
}

void RoomEventsTest::eventLines()
{
    QFETCH(Event, event);
    QFETCH(QString, line);
    QFETCH(QStringList, members);
    QFETCH(QString, userTitle);
    LobbyWindow run;
    ChatRoomForm* form = openRoomFour(run);
    QVERIFY2(form, qPrintable(run.server.failure()));
    // The line that follows shows that the event was taken, whether or not it wrote one.
    send(run, {event, {EventSpeak, taro, 0, "end"}});
    QTRY_COMPARE(lines(form).last(), QString("[たろう] end"));

    const QStringList written = lines(form);
    QCOMPARE(written[written.size() - 2], line);
    const QStringList all = lines(run.window.get());
    QCOMPARE(all[all.size() - 2], QString("(4) ") + line);
    QStringList listed;
    for (const QListWidgetItem* item :
         child<QListWidget>(form, "listUser")->findItems("*", Qt::MatchWildcard))
        listed << item->text();
    QCOMPARE(listed, members);
    QCOMPARE(child<QGroupBox>(form, "groupUser")->title(), userTitle);
}

void RoomEventsTest::recruitments_data()
{
    QTest::addColumn<QList<Event>>("events");
    // hanako's recruitment afterwards: whether it exists, and its applicants in order.
    QTest::addColumn<bool>("recruiting");
    QTest::addColumn<QList<uint>>("applicants");
    const Event start{EventRecruitStart, hanako};
    const Event taroApplies{EventApply, taro, hanako};
    const Event jiroApplies{EventApply, 8, hanako};
    const auto row = [](const char* name, const QList<Event>& events, bool recruiting,
                        const QList<uint>& applicants) {
        QTest::newRow(name) << events << recruiting << applicants;
    };
    row("started", {start}, true, {});
    row("applied in order", {start, taroApplies, jiroApplies}, true, {taro, 8});
    row("applying twice lists once", {start, taroApplies, taroApplies, jiroApplies}, true,
        {taro, 8});
    row("withdrawn", {start, taroApplies, jiroApplies, {EventApplyCancel, taro, hanako}}, true,
        {8});
    row("no recruitment to apply to", {taroApplies}, false, {});
    row("started again keeps applicants", {start, taroApplies, start}, true, {taro});
    row("cancelled", {start, taroApplies, {EventRecruitCancel, hanako}}, false, {});
    // Without たろう: his own game would start a battle.
    row("kept while the game runs", {start, jiroApplies, {EventGameStart, hanako}}, true, {8});
    row("game over", {start, jiroApplies, {EventGameStart, hanako}, {EventGameEnd, hanako}}, false,
        {});
    // Leaving the room is not leaving the recruitment.
    row("applicant left the room", {start, taroApplies, {EventLeave, taro}}, true, {taro});
}

void RoomEventsTest::recruitments()
{
    QFETCH(QList<Event>, events);
    QFETCH(bool, recruiting);
    QFETCH(QList<uint>, applicants);
    LobbyWindow run;
    ChatRoomForm* form = openRoomFour(run);
    QVERIFY2(form, qPrintable(run.server.failure()));
    send(run, events + QList<Event>{{EventSpeak, hanako, 0, "end"}});
    QTRY_COMPARE(lines(form).last(), QString("[はなこ] end"));

    QCOMPARE(form->isRecruitmentMember(hanako, hanako), recruiting);
    QCOMPARE(form->isRecruitmentMember(hanako, 8), applicants.contains(8));
    QCOMPARE(form->isRecruitmentMember(taro, taro), false);
    if (recruiting)
        QCOMPARE(form->findRecruitment(hanako).applicants, applicants);
}

QTEST_MAIN(RoomEventsTest)
#include "tst_roomevents.moc"
