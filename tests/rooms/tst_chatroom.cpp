#include "rooms/chatroomform.h"
#include "support/dialogtesting.h"
#include "support/lobbywindow.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>

#include <optional>

namespace
{
constexpr quint32 taro = LobbyWindow::ownId;
constexpr quint32 hanako = 5;
constexpr quint32 jiro = 8;

QStringList logLines(const ChatRoomForm* form)
{
    return child<QPlainTextEdit>(form, "textLog")->toPlainText().split('\n');
}

// The member list and the count above it.
QStringList members(const ChatRoomForm* form)
{
    QStringList names{child<QGroupBox>(form, "groupUser")->title()};
    for (const QListWidgetItem* item :
         child<QListWidget>(form, "listUser")->findItems("*", Qt::MatchWildcard))
        names << item->text();
    return names;
}
} // namespace

class ChatRoomTest : public QObject
{
    Q_OBJECT

  private slots:
    void initialisation();
    void commands_data();
    void commands();
    void transcript();
};

void ChatRoomTest::initialisation()
{
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    RoomInfo info;
    info.title = "雑談";
    info.userCount = 2;
    info.capacity = 10001;
    ChatRoomForm* form = run.openRoom(3, info, {{taro, "たろう"}, {hanako, "", 1}});
    QVERIFY2(form, qPrintable(run.server.failure()));
    EXPECT_NOTHING_MORE_FROM(run);
    QCOMPARE(run.tabs()->currentWidget(), form);
    QCOMPARE(members(form), (QStringList{"参加者 2/無制限", "たろう", "(Invalid User)"}));
    QCOMPARE(form->userName(jiro), "Unknown");
    QCOMPARE(textOf(form, "lineGame"), "なし");
    QTRY_COMPARE(logLines(form), QStringList{"*** 入室しました ***"});
    QTRY_COMPARE(run.allRoomsLog(), QString("(3) *** 入室しました ***"));
    QCOMPARE(run.window->roomTitle(3), info.title);
    QCOMPARE(run.window->roomTitle(4), QString("No Title"));
    QCOMPARE(run.window->roomGameId(4), uint(chatOnlyGameId));
}

void ChatRoomTest::commands_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("sent");
    // The reply's result and the box a refusal shows; no reply to a chat line.
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("refusal");
    const QByteArray speak = request(Speak, Wire().u32(9).str("こんにちは"));
    const QByteArray leave = request(LeaveRoom, Wire().u32(9));
    const QString hello = "こんにちは";
    QTest::newRow("speak by Return") << hello << "" << speak << -1 << "";
    QTest::newRow("speak by button") << hello << "btnSpeak" << speak << -1 << "";
    QTest::newRow("a long line is cut to 128 characters")
        << QString(129, 'x') << "" << request(Speak, Wire().u32(9).str(QString(128, 'x'))) << -1
        << "";
    QTest::newRow("nothing to say") << ""
                                    << "" << QByteArray() << -1 << "";
    QTest::newRow("left") << ""
                          << "pushButtonLeave" << leave << 0 << "";
    QTest::newRow("leaving refused") << ""
                                     << "pushButtonLeave" << leave << 1 << "退室できませんでした。";
}

// The commands of room 9, opened after room 5.
void ChatRoomTest::commands()
{
    QFETCH(QString, typed);
    QFETCH(QString, button);
    QFETCH(QByteArray, sent);
    QFETCH(int, result);
    QFETCH(QString, refusal);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomForm* form =
        run.openRoom(5, RoomInfo(), {}) ? run.openRoom(9, RoomInfo(), {}) : nullptr;
    QVERIFY2(form, qPrintable(run.server.failure()));
    QTRY_COMPARE(logLines(form), QStringList{"*** 入室しました ***"});
    auto* line = child<QLineEdit>(form, "lineSpeak");
    line->setText(typed);
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
        COMPARE_BOX(seen, QMessageBox::Information, "チャットルームから退室", refusal);
        QCOMPARE(run.room(9), form);
        return;
    }
    QTRY_COMPARE(run.tabs()->count(), 2);
    QCOMPARE(run.tabs()->currentWidget(), run.room(5));
    QTRY_VERIFY(run.allRoomsLog().endsWith("(9) *** 退室しました ***"));
    QCOMPARE(box->handled(), 0);
}

// One conversation in room 4, batch by batch: the lines each batch writes, the members after it,
// and the applicants of はなこ's recruitment (null: none).
void ChatRoomTest::transcript()
{
    struct Batch {
        QList<Event> events;
        QStringList lines;
        QStringList members;
        std::optional<QList<uint>> applicants;
    };
    const QString hana = "花子さん";
    const QList<Batch> batches = {
        {{{EventSpeak, hanako, 0, "やあ"}, {EventSpeak, 99, 0, "誰"}, {EventApply, taro, hanako}},
         {"[はなこ] やあ", "[Unknown] 誰", "*** はなこさんの募集にたろうさんが応募しました ***"},
         {"参加者 3/8", "たろう", "はなこ"},
         std::nullopt},
        // Entering again renames in place.
        {{{EventEnter, jiro, 0, "じろう"}, {EventEnter, hanako, 0, "花子"}},
         {"*** じろうさんが入室しました ***", "*** 花子さんが入室しました ***"},
         {"参加者 3/8", "たろう", "花子", "じろう"},
         std::nullopt},
        // Applicants in order, once each; starting again keeps them.
        {{{EventRecruitStart, hanako},
          {EventApply, taro, hanako},
          {EventApply, jiro, hanako},
          {EventApply, taro, hanako},
          {EventApplyCancel, taro, hanako},
          {EventRecruitStart, hanako}},
         {"*** " + hana + "が対戦相手を募集しはじめました ***",
          "*** " + hana + "の募集にたろうさんが応募しました ***",
          "*** " + hana + "の募集にじろうさんが応募しました ***",
          "*** " + hana + "の募集にたろうさんが応募しました ***",
          "*** " + hana + "の募集に応募していたたろうさんがキャンセルしました ***",
          "*** " + hana + "が対戦相手を募集しはじめました ***"},
         {"参加者 3/8", "たろう", "花子", "じろう"},
         QList<uint>{jiro}},
        // Kept while the game runs, and when an applicant leaves the room.
        {{{EventGameStart, hanako, 0, "127.0.0.1"},
          {EventGameLeave, taro, hanako},
          {EventLeave, jiro}},
         {"*** " + hana + "が主催しているゲームが開始しました ***",
          "*** " + hana + "が主催しているゲームからたろうさんが抜けました ***",
          "*** じろうさんが退室しました ***"},
         {"参加者 2/8", "たろう", "花子"},
         QList<uint>{jiro}},
        {{{EventGameEnd, hanako},
          {EventLeave, 99},
          {EventRecruitStart, hanako},
          {EventRecruitCancel, hanako},
          {EventLeave, hanako}},
         {"*** " + hana + "が主催していたゲームが終了しました ***",
          "*** " + hana + "が対戦相手を募集しはじめました ***",
          "*** " + hana + "が対戦相手の募集をキャンセルしました ***",
          "*** " + hana + "が退室しました ***"},
         {"参加者 1/8", "たろう"},
         std::nullopt},
    };
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    RoomInfo info;
    info.userCount = 3;
    ChatRoomForm* form = run.openRoom(4, info, {{taro, "たろう"}, {hanako, "はなこ"}});
    QVERIFY2(form, qPrintable(run.server.failure()));
    QTRY_COMPARE(logLines(form), QStringList{"*** 入室しました ***"});
    for (const Batch& batch : batches) {
        // A chat line after the batch (by a stranger, whoever left) shows that it was handled.
        const QString end = QString("end %1").arg(&batch - batches.data());
        QByteArray frames;
        for (const Event& event : batch.events + QList<Event>{{EventSpeak, 99, 0, end}})
            frames += roomEventFrame(4, event);
        const qsizetype before = logLines(form).size();
        run.server.send(frames);
        QTRY_COMPARE(logLines(form).last(), "[Unknown] " + end);
        QCOMPARE(logLines(form).mid(before, logLines(form).size() - before - 1), batch.lines);
        QCOMPARE(members(form), batch.members);
        QCOMPARE(form->isRecruitmentMember(hanako, hanako), batch.applicants.has_value());
        if (batch.applicants)
            QCOMPARE(form->findRecruitment(hanako).applicants, *batch.applicants);
    }
    QVERIFY(run.allRoomsLog().endsWith("(4) *** 花子さんが退室しました ***\n(4) [Unknown] end 4"));
}

QTEST_MAIN(ChatRoomTest)
#include "tst_chatroom.moc"
