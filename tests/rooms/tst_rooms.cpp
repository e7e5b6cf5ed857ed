// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/admindialog.h"
#include "rooms/batchedlog.h"
#include "rooms/chatroomcreatedialog.h"
#include "rooms/chatroomenterpassworddialog.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "support/dialogtesting.h"
#include "support/lobbywindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStyleOptionButton>
#include <QTextDocumentFragment>

namespace
{
constexpr int rowHeight = 41;
constexpr quint32 taro = LobbyWindow::ownId, hanako = 5, jiro = 8;
const QString noRoomRow = "(disabled) \nno room...\n";

// The row buttons on screen, top to bottom.
QList<QPushButton*> shownRows(const LobbyWindow& run)
{
    QList<QPushButton*> rows =
        child<QWidget>(run.roomList(), "widgetList")->findChildren<QPushButton*>();
    rows.removeIf([](const QPushButton* row) { return !row->isVisible(); });
    std::sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
    return rows;
}

RoomInfo room(quint32 next, quint32 status = 0, quint32 flags = 0)
{
    return {"", 1, 8, chatOnlyGameId, flags, next, status};
}

QString roomRow(quint32 roomId)
{
    return QString("No.%1 (1/8) [Open]\n\nチャット専用部屋").arg(roomId);
}

// Gives the list area a height, ticks, and answers the walk's requests, which must ask for the
// rooms in order; meanwhile runs while the first one is out.
bool serveWalk(LobbyWindow& run, int height, const QList<quint32>& asked,
               const QList<RoomInfo>& answers, const std::function<void()>& meanwhile = {})
{
    auto* rows = child<QWidget>(run.roomList(), "widgetList");
    rows->setFixedHeight(height);
    run.roomList()->layout()->activate();
    run.tick();
    for (int i = 0; i < asked.size(); ++i) {
        if (!run.server.expect(getRoomInfoRequest(asked[i])))
            return false;
        if (i == 0 && meanwhile)
            meanwhile();
        run.server.send(roomInfoReply(answers[i]));
    }
    return QTest::qWaitFor([rows] { return rows->isEnabled(); }, 5000);
}

#define WALK(run, ...) QVERIFY2(serveWalk(run, __VA_ARGS__), qPrintable((run).server.failure()))

// The member list and the count above it.
QStringList members(const ChatRoomForm* form)
{
    return QStringList{child<QGroupBox>(form, "groupUser")->title()} + itemTexts(form, "listUser");
}
} // namespace

// The list's height, the lobby's room count, the numbers asked, their answers and the rows shown.
using Walk = std::tuple<int, quint32, QList<quint32>, QList<RoomInfo>, QStringList>;

class RoomsTest : public QObject
{
    Q_OBJECT

  private slots:

    void walk_data()
    {
        QTest::addColumn<Walk>("walk");
        const RoomInfo game{"対戦部屋", 2, 10000, 0, 0, 1, 0};
        const RoomInfo locked{"対戦部屋", 2, 10001, chatOnlyGameId, 1, 5, 0};
        QTest::newRow("lower than a row") << Walk{rowHeight - 1, 100, {0}, {room(1)}, {roomRow(0)}};
        // One row fits, yet a second one is placed below the visible area.
        QTest::newRow("one row") << Walk{
            rowHeight, 100, {0, 1}, {room(1), room(2)}, {roomRow(0), roomRow(1)}};
        QTest::newRow("row texts, numbers without a room skipped, no further room") << Walk{
            4 * rowHeight,
            10,
            {0, 1, 3, 5},
            {game, room(3, 1), locked, room(noRoom, 0, 2)},
            {"No.0 (2/10000) [Open]\n対戦部屋\n星環演武",
             "No.3 (2/無制限) [Locked]\n対戦部屋\nチャット専用部屋", roomRow(5), noRoomRow}};
        QTest::newRow("no room at all") << Walk{rowHeight, 0, {0}, {room(noRoom, 1)}, {noRoomRow}};
        QTest::newRow("next number not below the count") << Walk{
            3 * rowHeight, 2, {0, 1}, {room(1), room(2)}, {roomRow(0), roomRow(1), noRoomRow}};
    }

    void walk()
    {
        QFETCH(Walk, walk);
        const auto& [height, roomCount, asked, answers, rows] = walk;
        LobbyWindow run;
        VERIFY_STEP(run, loggedIn(roomCount));
        // The connection carries one command at a time: no walk while another one is out.
        QWidget commandOwner;
        run.socket()->beginCommand(&commandOwner, SLOT(deleteLater()));
        run.tick();
        EXPECT_NOTHING_MORE(run);
        run.socket()->endCommand();
        WALK(run, height, asked, answers);
        EXPECT_NOTHING_MORE(run);
        QStringList texts;
        for (QPushButton* row : shownRows(run)) {
            texts << (row->isEnabled() ? "" : "(disabled) ") + row->text();
            // All three lines inside the button's frame.
            QStyleOptionButton option;
            option.initFrom(row);
            const auto frame =
                row->style()->subElementRect(QStyle::SE_PushButtonContents, &option, row);
            QVERIFY(row->fontMetrics().lineSpacing() * 3 <= frame.height());
        }
        QCOMPARE(texts, rows);
    }

    // A walk holds back the rows alone: typing goes on, and 部屋の作成 pressed meanwhile opens its
    // dialog once the walk is over. Then the scroll bar keeps the last page full, and an entry is
    // refused with the server's reason.
    void duringWalk()
    {
        LobbyWindow run;
        VERIFY_STEP(run, loggedIn(5));
        AdminDialog admin(run.window.get(), run.window->lobby().accounts());
        admin.show();
        Modals boxes;
        auto* field = child<QLineEdit>(&admin, "lineGmes");
        WALK(run, rowHeight, {0, 4}, {room(4, 1), room(noRoom)}, [&] {
            QTest::keyClicks(field, "abc");
            child<QPushButton>(run.roomList(), "pushCreateRoom")->click();
            QVERIFY(boxes.seen.isEmpty() && run.server.nothingMoreFrom(run.window.get()));
        });
        QCOMPARE(field->text(), QString("abc"));
        QTRY_COMPARE(boxes.seen,
                     QStringList{"ChatRoomCreateDialog \"チャットルームを新しく作る\""});

        auto* scroll = child<QScrollBar>(run.roomList(), "scrList");
        scroll->setValue(scroll->maximum());
        QCOMPARE(shownRows(run)[0]->text(), QString("\nloading No.3...\n"));
        WALK(run, rowHeight, {3, 4}, {room(4), room(noRoom)});
        for (quint32 result : {3, 9}) {
            shownRows(run)[1]->click();
            EXPECT_CLIENT_BYTES(run.server, frameBytes(EnterRoomRequest{4, ""}));
            run.server.send(frameBytes(EnterRoomReply{result}));
            QTRY_VERIFY(run.window->isEnabled() && boxes.seen.size() == (result == 3 ? 2 : 3));
        }
        // A reason the form does not know leaves the reason out.
        const QString refused = "入室できませんでした。";
        QCOMPARE(boxes.seen.mid(1),
                 QStringList({boxText(QMessageBox::Information, "チャットルームへ入室",
                                      refused + "\nパスワードが違います。"),
                              boxText(QMessageBox::Information, "チャットルームへ入室", refused)}));
    }

    // The form refuses what the server would and keeps the capacity within 2 to 100. This server
    // makes rooms for the game only.
    void createRoom()
    {
        LobbyWindow run;
        VERIFY_STEP(run, loggedIn());
        Modals boxes;
        ChatRoomCreateDialog dialog(run.roomList(), run.window->lobby().rooms());
        dialog.show();
        auto* capacity = child<QSpinBox>(&dialog, "spinUser");
        capacity->setValue(1);
        QCOMPARE(capacity->value(), 2);
        capacity->setValue(101);
        child<QComboBox>(&dialog, "comboGame")->setCurrentIndex(1);
        for (const QStringList& typed : QList<QStringList>{
                 {"", ""}, {kana(48), ""}, {"対戦", "123456789"}, {kana(47), "12345678"}}) {
            typeInto(&dialog, "lineTitle", typed[0]);
            child<QCheckBox>(&dialog, "checkPass")->setChecked(!typed[1].isEmpty());
            typeInto(&dialog, "linePass", typed[1]);
            press(&dialog, QDialogButtonBox::Ok);
        }
        EXPECT_CLIENT_BYTES(run.server,
                            frameBytes(CreateRoomRequest{kana(47), "12345678", 100, 0}));
        run.server.send(frameBytes(ResultReply{noRoom}));
        QTRY_VERIFY(!dialog.isVisible());
        // Three warnings, then the server's refusal.
        QCOMPARE(boxes.seen.mid(3),
                 QStringList{boxText(QMessageBox::Information, "チャットルームの作成",
                                     "新しいチャットルームを作れませんでした。")});
    }

    // A room from its entering to its leaving: every kind of event with its line in the log. The
    // room is locked, and the room asks for the members' names in the order sent.
    void chatRoom()
    {
        LobbyWindow run;
        VERIFY_STEP(run, loggedIn(5));
        WALK(run, rowHeight, {0, 4}, {room(4, 1), room(noRoom, 0, 1)});
        Modals boxes([](QWidget* modal) {
            if (qobject_cast<ChatRoomEnterPasswordDialog*>(modal)) {
                typeInto(modal, "linePass", "秘密");
                press(modal, QDialogButtonBox::Ok);
            }
        });
        shownRows(run)[0]->click();
        EXPECT_CLIENT_BYTES(run.server, frameBytes(EnterRoomRequest{4, "秘密"}));
        run.server.send(enteredReply({taro, hanako}));
        ChatRoomForm* form = run.serveRoom(4, room(noRoom), {{taro, "たろう"}, {hanako, "はなこ"}});
        QVERIFY2(form, qPrintable(run.server.failure()));
        // The window and each room hold a log of the same name; this one sits below the tabs.
        auto* allRooms =
            child<QPlainTextEdit>(child<QSplitter>(run.window.get(), "splitterSub"), "textLog");
        QTRY_COMPARE(allRooms->toPlainText(), QString("(4) *** 入室しました ***"));
        // Undo takes back what the user typed, never the lines received.
        QTest::keyClick(allRooms, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(allRooms->toPlainText(), QString("(4) *** 入室しました ***"));
        // Chat lines are messages, not commands, cut to 128 characters; each waits for the server's
        // echo, and an empty one is not sent.
        auto* line = child<QLineEdit>(form, "lineSpeak");
        for (const QString& typed : {QString("こんにちは"), QString(129, 'x'), QString()}) {
            line->setText(typed);
            QTest::keyClick(line, Qt::Key_Return);
        }
        EXPECT_CLIENT_BYTES(run.server, frameBytes(SpeakRequest{4, "こんにちは"}) +
                                            frameBytes(SpeakRequest{4, QString(128, 'x')}));
        EXPECT_NOTHING_MORE(run);
        // Sends the events at once to an emptied log; returns the lines they leave in it, in order.
        auto* log = child<QPlainTextEdit>(form, "textLog");
        const auto play = [&](const QList<std::pair<Event, QString>>& script) {
            log->clear();
            QByteArray frames;
            QStringList lines;
            for (const auto& [event, line] : script) {
                frames += roomEventFrame(4, event);
                if (!line.isEmpty())
                    lines << line;
            }
            run.server.send(frames);
            return lines;
        };
        // Entering again renames in place; applicants count once each, in order, and stay while the
        // game runs.
        const QString hana = "*** 花子さん", applies = "の募集にたろうさんが応募しました ***",
                      game = "が主催しているゲーム";
        QStringList lines = play(
            {{{EventSpeak, hanako, 0, "やあ"}, "[はなこ] やあ"},
             {{EventSpeak, 99, 0, "誰"}, "[Unknown] 誰"},
             {{EventApply, taro, hanako}, "*** はなこさん" + applies},
             {{EventEnter, jiro, 0, "じろう"}, "*** じろうさんが入室しました ***"},
             {{EventEnter, hanako, 0, "花子"}, hana + "が入室しました ***"},
             {{EventRecruitStart, hanako}, hana + "が対戦相手を募集しはじめました ***"},
             {{EventApply, taro, hanako}, hana + applies},
             {{EventApply, jiro, hanako}, hana + "の募集にじろうさんが応募しました ***"},
             {{EventApply, taro, hanako}, hana + applies},
             {{EventApplyCancel, taro, hanako},
              hana + "の募集に応募していたたろうさんがキャンセルしました ***"},
             {{EventRecruitStart, hanako}, hana + "が対戦相手を募集しはじめました ***"},
             {{EventGameStart, hanako, 0, "127.0.0.1"}, hana + game + "が開始しました ***"},
             {{EventGameLeave, taro, hanako}, hana + game + "からたろうさんが抜けました ***"}});
        QTRY_COMPARE(log->toPlainText().split('\n'), lines);
        QCOMPARE(members(form), (QStringList{"参加者 3/8", "たろう", "花子", "じろう"}));
        QCOMPARE(form->findRecruitment(hanako).applicants, QList<uint>{jiro});
        lines =
            play({{{EventLeave, jiro}, "*** じろうさんが退室しました ***"},
                  {{EventGameEnd, hanako}, hana + "が主催していたゲームが終了しました ***"},
                  {{EventLeave, 99}, ""},
                  {{EventRecruitStart, hanako}, hana + "が対戦相手を募集しはじめました ***"},
                  {{EventRecruitCancel, hanako}, hana + "が対戦相手の募集をキャンセルしました ***"},
                  {{EventLeave, hanako}, hana + "が退室しました ***"}});
        QTRY_COMPARE(log->toPlainText().split('\n'), lines);
        QCOMPARE(members(form), (QStringList{"参加者 1/8", "たろう"}));
        QVERIFY(!form->isRecruitmentMember(hanako, hanako));
        for (quint32 result : {1, 0}) {
            child<QPushButton>(form, "pushButtonLeave")->click();
            EXPECT_CLIENT_BYTES(run.server, frameBytes(LeaveRoomRequest{4}));
            run.server.send(frameBytes(ResultReply{result}));
            QTRY_VERIFY(run.window->isEnabled() && boxes.seen.size() == 2);
        }
        QTRY_VERIFY(!run.room(4));
        QCOMPARE(boxes.seen[1], boxText(QMessageBox::Information, "チャットルームから退室",
                                        "退室できませんでした。"));
    }

    void batchedLog_data()
    {
        QTest::addColumn<QList<int>>("bursts");
        QTest::addColumn<bool>("scrolledBack");
        const int block = BatchedLog::linesPerBlock;
        QTest::newRow("one by one past a block") << QList<int>(block + 2, 1) << false;
        QTest::newRow("bursts across blocks")
            << QList<int>{3, 2 * block + 1, block - 3, 5} << false;
        QTest::newRow("scrolled back") << QList<int>{block, 1, block + 1} << true;
    }

    // Lines keep their text and breaks whatever block they share, a view at its end follows them
    // while one the user scrolled back stays where it is, and each line selects as one.
    void batchedLog()
    {
        QFETCH(QList<int>, bursts);
        QFETCH(bool, scrolledBack);
        QPlainTextEdit view;
        view.resize(300, 100);
        view.show();
        auto* log = new BatchedLog(&view);
        QScrollBar* bar = view.verticalScrollBar();
        QStringList lines;
        for (int burst = 0; burst < bursts.size(); ++burst) {
            for (int i = 0; i < bursts[burst]; ++i)
                log->append(lines.emplaceBack(QString("line %1 ").arg(lines.size()).repeated(2)));
            QTRY_COMPARE(view.toPlainText(), lines.join('\n'));
            // The first burst finds the view at its end.
            QCOMPARE(bar->value(), scrolledBack && burst > 0 ? 0 : bar->maximum());
            if (scrolledBack)
                bar->setValue(0);
        }
        // A triple click selects one line with its break, wherever it lies in its block.
        const int shown = scrolledBack ? 1 : int(lines.size()) - 2;
        QTextCursor line(view.document()->find(lines[shown]));
        const QPoint at = view.cursorRect(line).center();
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(view.textCursor().selection().toPlainText(), lines[shown] + '\n');
    }
};

QTEST_MAIN(RoomsTest)
#include "tst_rooms.moc"
