#include "rooms/chatroomenterpassworddialog.h"
#include "rooms/chatroomlistform.h"
#include "support/dialogtesting.h"
#include "support/lobbyframes.h"
#include "support/lobbywindow.h"

#include <QLayout>
#include <QScrollBar>

#include <algorithm>

namespace
{
constexpr int rowHeight = 41;

// The list area's height decides how many rows a walk fills.
void setListHeight(const LobbyWindow& run, int height)
{
    child<QWidget>(run.roomList(), "widgetList")->setFixedHeight(height);
    run.roomList()->layout()->activate();
}

// The row buttons on screen, top to bottom.
QList<QPushButton*> shownRows(const LobbyWindow& run)
{
    QList<QPushButton*> rows;
    const auto buttons = child<QWidget>(run.roomList(), "widgetList")->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        if (button->isVisible())
            rows << button;
    }
    std::sort(rows.begin(), rows.end(),
              [](QPushButton* a, QPushButton* b) { return a->y() < b->y(); });
    return rows;
}

QStringList rowTexts(const LobbyWindow& run)
{
    QStringList texts;
    for (QPushButton* row : shownRows(run))
        texts << (row->isEnabled() ? "" : "disabled ") + row->text();
    return texts;
}

RoomInfo room(quint32 next)
{
    RoomInfo info;
    info.nextRoomId = next;
    return info;
}

RoomInfo noSuchRoom(quint32 next)
{
    RoomInfo info;
    info.status = 1;
    info.nextRoomId = next;
    return info;
}

QString roomRow(quint32 roomId)
{
    return QString("No.%1 (1/8) [Open]\n\nチャット専用部屋").arg(roomId);
}

// Answers a walk: the requests must ask for the rooms in order.
bool serveWalk(LobbyWindow& run, const QList<quint32>& asked, const QList<RoomInfo>& answers)
{
    for (int i = 0; i < asked.size(); ++i) {
        if (!run.server.expect(getRoomInfoRequest(asked[i])))
            return false;
        run.server.send(roomInfoReply(answers[i]));
    }
    return QTest::qWaitFor([&run] { return run.window->isEnabled(); }, 5000);
}

#define SERVE_WALK(run, asked, answers)                                                            \
    QVERIFY2(serveWalk(run, asked, answers), qPrintable((run).server.failure()))

} // namespace

class ChatRoomListTest : public QObject
{
    Q_OBJECT

  private slots:
    void rowsFollowTheListHeight_data();
    void rowsFollowTheListHeight();
    void walk_data();
    void walk();
    void rowText_data();
    void rowText();
    void scrollingShowsPlaceholderAndClamps_data();
    void scrollingShowsPlaceholderAndClamps();
    void refreshPauses_data();
    void refreshPauses();
    void enteringTakesEveryMemberPacket_data();
    void enteringTakesEveryMemberPacket();
    void refusedEntry_data();
    void refusedEntry();
    void lockedRoomAsksForPassword_data();
    void lockedRoomAsksForPassword();

  private:
    // Logged in with one room in the list, its row ready for a click.
    bool showOneRoom(LobbyWindow& run, const RoomInfo& info);
};

bool ChatRoomListTest::showOneRoom(LobbyWindow& run, const RoomInfo& info)
{
    if (!run.loggedIn(1))
        return false;
    run.tick();
    return serveWalk(run, {0}, {info});
}

void ChatRoomListTest::rowsFollowTheListHeight_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("rows");
    QTest::newRow("lower than a row") << rowHeight - 1 << 1;
    // One row fits, yet a second one is placed below the visible area.
    QTest::newRow("one row") << rowHeight << 2;
    QTest::newRow("two rows") << 2 * rowHeight + 40 << 2;
    QTest::newRow("five rows") << 5 * rowHeight << 5;
}

void ChatRoomListTest::rowsFollowTheListHeight()
{
    QFETCH(int, height);
    QFETCH(int, rows);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn(100));
    setListHeight(run, height);
    run.tick();
    QList<quint32> asked;
    QList<RoomInfo> answers;
    for (int i = 0; i < rows; ++i) {
        asked << quint32(i);
        answers << room(quint32(i + 1));
    }
    SERVE_WALK(run, asked, answers);
    EXPECT_NOTHING_MORE_FROM(run);
    const QList<QPushButton*> shown = shownRows(run);
    QCOMPARE(shown.size(), rows);
    for (int i = 0; i < rows; ++i) {
        QCOMPARE(shown[i]->geometry(),
                 QRect(0, i * rowHeight, shown[i]->parentWidget()->width(), rowHeight));
        QCOMPARE(shown[i]->text(), roomRow(quint32(i)));
    }
    // Every row, the first one even when nothing else fits, enters its room.
    shown.last()->click();
    EXPECT_CLIENT_BYTES(run.server, frame(Wire().u32(EnterRoom).u32(quint32(rows - 1)).str("")));
}

void ChatRoomListTest::walk_data()
{
    QTest::addColumn<quint32>("roomCount");
    QTest::addColumn<QList<quint32>>("asked");
    QTest::addColumn<QList<RoomInfo>>("answers");
    QTest::addColumn<QStringList>("rows");
    const QString empty = "disabled \nno room...\n";

    QTest::newRow("rooms fill the rows")
        << 10u << QList<quint32>{0, 1, 2} << QList<RoomInfo>{room(1), room(2), room(3)}
        << QStringList{roomRow(0), roomRow(1), roomRow(2)};
    QTest::newRow("numbers without a room take no row")
        << 10u << QList<quint32>{0, 2, 5, 6}
        << QList<RoomInfo>{room(2), noSuchRoom(5), room(6), room(9)}
        << QStringList{roomRow(0), roomRow(5), roomRow(6)};
    QTest::newRow("no further room") << 10u << QList<quint32>{0} << QList<RoomInfo>{room(noRoom)}
                                     << QStringList{roomRow(0), empty, empty};
    QTest::newRow("next number not below the count")
        << 2u << QList<quint32>{0, 1} << QList<RoomInfo>{room(1), room(2)}
        << QStringList{roomRow(0), roomRow(1), empty};
    QTest::newRow("no room at all")
        << 10u << QList<quint32>{0} << QList<RoomInfo>{noSuchRoom(noRoom)} << QStringList{empty};
}

void ChatRoomListTest::walk()
{
    QFETCH(quint32, roomCount);
    QFETCH(QList<quint32>, asked);
    QFETCH(QList<RoomInfo>, answers);
    QFETCH(QStringList, rows);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn(roomCount));
    setListHeight(run, 3 * rowHeight);
    run.tick();
    SERVE_WALK(run, asked, answers);
    EXPECT_NOTHING_MORE_FROM(run);
    QCOMPARE(rowTexts(run), rows);

    const int filled = int(std::count_if(
        rows.begin(), rows.end(), [](const QString& text) { return text.startsWith("No."); }));
    auto* scroll = child<QScrollBar>(run.roomList(), "scrList");
    QCOMPARE(scroll->maximum(), qMax(0, int(roomCount) - filled));
    QCOMPARE(scroll->pageStep(), int(roomCount) > filled ? filled : 0);
    if (filled == 0) {
        // Centred in the list area, and asked again on the very next tick.
        auto* list = child<QWidget>(run.roomList(), "widgetList");
        QCOMPARE(shownRows(run)[0]->y(), (list->height() - rowHeight) / 2);
        run.tick();
        EXPECT_CLIENT_BYTES(run.server, getRoomInfoRequest(0));
    }
}

void ChatRoomListTest::rowText_data()
{
    QTest::addColumn<RoomInfo>("info");
    QTest::addColumn<bool>("entered");
    QTest::addColumn<QString>("text");
    RoomInfo info;
    info.title = "対戦部屋";
    info.userCount = 2;
    info.gameId = 0;

    info.capacity = 10000;
    const QString game = "No.0 (2/10000) [Open]\n対戦部屋\n星環演武";
    QTest::newRow("capacity 10000") << info << false << game;
    QTest::newRow("entered") << info << true << "[入室済] " + game;
    info.capacity = 10001;
    QTest::newRow("capacity 10001")
        << info << false << "No.0 (2/無制限) [Open]\n対戦部屋\n星環演武";
    info.capacity = 8;
    info.flags = 3;
    info.gameId = chatOnlyGameId;
    QTest::newRow("locked chat room")
        << info << false << "No.0 (2/8) [Locked]\n対戦部屋\nチャット専用部屋";
    info.flags = 2;
    QTest::newRow("only bit 0 locks")
        << info << false << "No.0 (2/8) [Open]\n対戦部屋\nチャット専用部屋";
}

void ChatRoomListTest::rowText()
{
    QFETCH(RoomInfo, info);
    QFETCH(bool, entered);
    QFETCH(QString, text);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn(1));
    if (entered) {
        QVERIFY2(run.openRoom(0, info, {}), qPrintable(run.server.failure()));
        run.tabs()->setCurrentWidget(run.roomList());
    }
    run.tick();
    SERVE_WALK(run, {0}, {info});
    QCOMPARE(shownRows(run)[0]->text(), text);
    QCOMPARE(shownRows(run)[0]->isEnabled(), !entered);
}

void ChatRoomListTest::scrollingShowsPlaceholderAndClamps_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<quint32>("top");
    QTest::newRow("inside") << 4 << 4u;
    QTest::newRow("last page stays full") << 8 << 7u;
}

void ChatRoomListTest::scrollingShowsPlaceholderAndClamps()
{
    QFETCH(int, value);
    QFETCH(quint32, top);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn(10));
    setListHeight(run, 3 * rowHeight);
    run.tick();
    // Two rooms fill two of three rows, so the scroll bar reaches beyond the last full page.
    SERVE_WALK(run, (QList<quint32>{0, 1}), (QList<RoomInfo>{room(1), room(noRoom)}));
    auto* scroll = child<QScrollBar>(run.roomList(), "scrList");
    QCOMPARE(scroll->maximum(), 8);
    scroll->setValue(value);
    QCOMPARE(rowTexts(run), QStringList{QString("disabled \nloading No.%1...\n").arg(top)});
    run.tick();
    EXPECT_CLIENT_BYTES(run.server, getRoomInfoRequest(top));
}

void ChatRoomListTest::refreshPauses_data()
{
    QTest::addColumn<QString>("reason");
    for (const char* reason : {"hidden", "held", "command out", "window disabled"})
        QTest::newRow(reason) << QString(reason);
}

void ChatRoomListTest::refreshPauses()
{
    QFETCH(QString, reason);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn(1));
    ChatRoomListForm* list = run.roomList();
    QWidget commandOwner;
    const std::function<void(bool)> pause = [&](bool on) {
        if (reason == "hidden")
            list->setVisible(!on);
        else if (reason == "held")
            list->setAutoUpdate(!on);
        else if (reason == "window disabled")
            run.window->setEnabled(!on);
        else if (on)
            run.socket()->beginCommand(&commandOwner, SLOT(deleteLater()));
        else
            run.socket()->endCommand();
    };
    pause(true);
    for (int i = 0; i < 3; ++i)
        run.tick();
    EXPECT_NOTHING_MORE_FROM(run);
    pause(false);
    QTRY_VERIFY(run.window->isEnabled());
    run.tick();
    SERVE_WALK(run, {0}, {room(noRoom)});

    // The next walk comes on the fifth tick after this one ended.
    for (int i = 0; i < 4; ++i)
        run.tick();
    EXPECT_NOTHING_MORE_FROM(run);
    run.tick();
    EXPECT_CLIENT_BYTES(run.server, getRoomInfoRequest(0));
}

void ChatRoomListTest::enteringTakesEveryMemberPacket_data()
{
    QTest::addColumn<bool>("byteByByte");
    QTest::newRow("in one read") << false;
    QTest::newRow("one byte per read") << true;
}

void ChatRoomListTest::enteringTakesEveryMemberPacket()
{
    QFETCH(bool, byteByByte);
    LobbyWindow run;
    QVERIFY2(showOneRoom(run, room(noRoom)), qPrintable(run.server.failure()));
    shownRows(run)[0]->click();
    EXPECT_CLIENT_BYTES(run.server, frame(Wire().u32(EnterRoom).u32(0).str("")));
    const QByteArray answer = replyFrame(Wire().u32(0).u32(3)) + replyFrame(Wire().u32(9)) +
                              replyFrame(Wire().u32(77)) + replyFrame(Wire().u32(5));
    if (byteByByte)
        run.server.sendSplit(answer);
    else
        run.server.send(answer);
    // The new room asks for the names of all members, in the order the server sent them.
    const QList<RoomMember> members{{9, "いち"}, {77, "たろう"}, {5, "ご"}};
    QVERIFY2(run.serveRoom(0, room(noRoom), members), qPrintable(run.server.failure()));
    EXPECT_NOTHING_MORE_FROM(run);
}

void ChatRoomListTest::refusedEntry_data()
{
    QTest::addColumn<quint32>("result");
    QTest::addColumn<QString>("text");
    QTest::newRow("full") << 2u << "入室できませんでした。\n満席です。";
    QTest::newRow("wrong password") << 3u << "入室できませんでした。\nパスワードが違います。";
    QTest::newRow("too many rooms")
        << 5u << "入室できませんでした。\n部屋に入りすぎです。\nほかの部屋を退室してください。";
    QTest::newRow("other") << 4u << "入室できませんでした。";
}

void ChatRoomListTest::refusedEntry()
{
    QFETCH(quint32, result);
    QFETCH(QString, text);
    LobbyWindow run;
    QVERIFY2(showOneRoom(run, room(noRoom)), qPrintable(run.server.failure()));
    shownRows(run)[0]->click();
    EXPECT_CLIENT_BYTES(run.server, frame(Wire().u32(EnterRoom).u32(0).str("")));
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    // A refusal carries a member count but no member packets.
    run.server.send(replyFrame(Wire().u32(result).u32(2)));
    QTRY_COMPARE(box->handled(), 1);
    COMPARE_BOX(seen, QMessageBox::Information, "チャットルームへ入室", text);
    QTRY_VERIFY(run.window->isEnabled());
    EXPECT_NOTHING_MORE_FROM(run);
    QCOMPARE(run.tabs()->count(), 1);
}

void ChatRoomListTest::lockedRoomAsksForPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("cancelled") << "秘密" << false;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("given") << "秘密" << true;
}

void ChatRoomListTest::lockedRoomAsksForPassword()
{
    QFETCH(QString, password);
    QFETCH(bool, confirmed);
    LobbyWindow run;
    RoomInfo locked = room(noRoom);
    locked.flags = 1;
    QVERIFY2(showOneRoom(run, locked), qPrintable(run.server.failure()));
    SeenBox seen;
    auto warning = answerMessageBox(&seen);
    auto asked =
        answerDialog<ChatRoomEnterPasswordDialog>([&](ChatRoomEnterPasswordDialog* dialog) {
            typeInto(dialog, "linePass", password);
            press(dialog, confirmed ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
            // An empty password is refused and the dialog stays for another try.
            if (dialog->isVisible())
                press(dialog, QDialogButtonBox::Cancel);
        });
    shownRows(run)[0]->click();
    QCOMPARE(asked->handled(), 1);
    if (confirmed && !password.isEmpty()) {
        EXPECT_CLIENT_BYTES(run.server, frame(Wire().u32(EnterRoom).u32(0).str(password)));
        return;
    }
    EXPECT_NOTHING_MORE_FROM(run);
    QCOMPARE(warning->handled(), password.isEmpty() ? 1 : 0);
    if (password.isEmpty())
        COMPARE_BOX(seen, QMessageBox::Warning, "チャットルームへ入室",
                    "パスワードを入力してください。");
}

QTEST_MAIN(ChatRoomListTest)
#include "tst_chatroomlist.moc"
