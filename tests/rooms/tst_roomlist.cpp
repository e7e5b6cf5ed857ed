#include "rooms/chatroomcreatedialog.h"
#include "rooms/chatroomenterpassworddialog.h"
#include "rooms/chatroomlistform.h"
#include "support/dialogtesting.h"
#include "support/lobbywindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLayout>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>

namespace
{
constexpr int rowHeight = 41;
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

QStringList rowTexts(const LobbyWindow& run)
{
    QStringList texts;
    for (QPushButton* row : shownRows(run))
        texts << (row->isEnabled() ? "" : "(disabled) ") + row->text();
    return texts;
}

RoomInfo room(quint32 next, quint32 status = 0, quint32 flags = 0)
{
    return {"", 1, 8, chatOnlyGameId, flags, next, status};
}

QString roomRow(quint32 roomId)
{
    return QString("No.%1 (1/8) [Open]\n\nチャット専用部屋").arg(roomId);
}

// Gives the list area a height (0 keeps the window's), ticks, and answers the walk's requests,
// which must ask for the rooms in order.
bool serveWalk(LobbyWindow& run, int height, const QList<quint32>& asked,
               const QList<RoomInfo>& answers)
{
    if (height > 0) {
        child<QWidget>(run.roomList(), "widgetList")->setFixedHeight(height);
        run.roomList()->layout()->activate();
    }
    run.tick();
    for (int i = 0; i < asked.size(); ++i) {
        if (!run.server.expect(getRoomInfoRequest(asked[i])))
            return false;
        run.server.send(roomInfoReply(answers[i]));
    }
    return QTest::qWaitFor([&run] { return run.window->isEnabled(); }, 5000);
}

#define WALK(run, ...) QVERIFY2(serveWalk(run, __VA_ARGS__), qPrintable((run).server.failure()))
} // namespace

class RoomListTest : public QObject
{
    Q_OBJECT

  private slots:
    void walk_data();
    void walk();
    void noWalkWhileAnotherCommandIsOut();
    void entering_data();
    void entering();
    void createRoom_data();
    void createRoom();
};

void RoomListTest::walk_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<quint32>("roomCount");
    QTest::addColumn<QList<quint32>>("asked");
    QTest::addColumn<QList<RoomInfo>>("answers");
    QTest::addColumn<QStringList>("rows");
    const RoomInfo game{"対戦部屋", 2, 10000, 0, 0, 1, 0};
    const RoomInfo locked{"対戦部屋", 2, 10001, chatOnlyGameId, 1, 5, 0};
    QTest::newRow("lower than a row") << rowHeight - 1 << 100u << QList<quint32>{0}
                                      << QList<RoomInfo>{room(1)} << QStringList{roomRow(0)};
    // One row fits, yet a second one is placed below the visible area.
    QTest::newRow("one row") << rowHeight << 100u << QList<quint32>{0, 1}
                             << QList<RoomInfo>{room(1), room(2)}
                             << QStringList{roomRow(0), roomRow(1)};
    QTest::newRow("row texts, numbers without a room skipped")
        << 3 * rowHeight + 40 << 10u << QList<quint32>{0, 1, 3, 5}
        << QList<RoomInfo>{game, room(3, 1), locked, room(6, 0, 2)}
        << QStringList{"No.0 (2/10000) [Open]\n対戦部屋\n星環演武",
                       "No.3 (2/無制限) [Locked]\n対戦部屋\nチャット専用部屋", roomRow(5)};
    QTest::newRow("no further room")
        << 3 * rowHeight << 10u << QList<quint32>{0} << QList<RoomInfo>{room(noRoom)}
        << QStringList{roomRow(0), noRoomRow, noRoomRow};
    QTest::newRow("next number not below the count")
        << 3 * rowHeight << 2u << QList<quint32>{0, 1} << QList<RoomInfo>{room(1), room(2)}
        << QStringList{roomRow(0), roomRow(1), noRoomRow};
    QTest::newRow("no room at all") << 3 * rowHeight << 10u << QList<quint32>{0}
                                    << QList<RoomInfo>{room(noRoom, 1)} << QStringList{noRoomRow};
}

void RoomListTest::walk()
{
    QFETCH(int, height);
    QFETCH(quint32, roomCount);
    QFETCH(QList<quint32>, asked);
    QFETCH(QList<RoomInfo>, answers);
    QFETCH(QStringList, rows);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn(roomCount));
    WALK(run, height, asked, answers);
    EXPECT_NOTHING_MORE_FROM(run);
    QCOMPARE(rowTexts(run), rows);
    const int filled = int(rows.size() - rows.count(noRoomRow));
    QCOMPARE(child<QScrollBar>(run.roomList(), "scrList")->maximum(),
             qMax(0, int(roomCount) - filled));
    if (filled == 0) {
        // Asked again on the very next tick.
        run.tick();
        EXPECT_CLIENT_BYTES(run.server, getRoomInfoRequest(0));
        return;
    }
    // The last filled row, even when it is the only one, enters its room.
    shownRows(run)[filled - 1]->click();
    const quint32 number = rows[filled - 1].section(' ', 0, 0).mid(3).toUInt();
    EXPECT_CLIENT_BYTES(run.server, request(EnterRoom, Wire().u32(number).str("")));
}

// The connection carries one command at a time; the next walk comes on the fifth tick after one.
void RoomListTest::noWalkWhileAnotherCommandIsOut()
{
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn(1));
    QWidget commandOwner;
    run.socket()->beginCommand(&commandOwner, SLOT(deleteLater()));
    run.tick();
    EXPECT_NOTHING_MORE_FROM(run);
    run.socket()->endCommand();
    WALK(run, 0, {0}, {room(noRoom)});
    for (int i = 0; i < 4; ++i)
        run.tick();
    EXPECT_NOTHING_MORE_FROM(run);
    run.tick();
    EXPECT_CLIENT_BYTES(run.server, getRoomInfoRequest(0));
}

void RoomListTest::entering_data()
{
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("refusal");
    // A refusal carries a member count but no member packets.
    const auto refused = [](const char* name, quint32 result, const QString& text) {
        QTest::newRow(name) << 0u << replyFrame(Wire().u32(result).u32(2))
                            << "入室できませんでした。" + text;
    };
    refused("full", 2, "\n満席です。");
    refused("wrong password", 3, "\nパスワードが違います。");
    refused("too many rooms", 5, "\n部屋に入りすぎです。\nほかの部屋を退室してください。");
    refused("other", 4, "");
    // The answer comes a byte per read.
    const QByteArray members = replyFrame(Wire().u32(0).u32(3)) + replyFrame(Wire().u32(9)) +
                               replyFrame(Wire().u32(77)) + replyFrame(Wire().u32(5));
    QTest::newRow("entered") << 0u << members << QString();
    // The first try is cancelled; the second leaves the password empty, which is refused.
    QTest::newRow("locked") << 1u << members << QString();
}

void RoomListTest::entering()
{
    QFETCH(quint32, flags);
    QFETCH(QByteArray, answer);
    QFETCH(QString, refusal);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn(1));
    WALK(run, 0, {0}, {room(noRoom, 0, flags)});
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    int asked = 0;
    ModalWatcher password(
        [&](QWidget* modal) {
            auto* dialog = qobject_cast<ChatRoomEnterPasswordDialog*>(modal);
            if (dialog && asked++ == 0) {
                press(dialog, QDialogButtonBox::Cancel);
            } else if (dialog) {
                press(dialog, QDialogButtonBox::Ok);
                typeInto(dialog, "linePass", "秘密");
                press(dialog, QDialogButtonBox::Ok);
            }
            return dialog != nullptr;
        },
        true);
    shownRows(run)[0]->click();
    if (flags != 0) {
        EXPECT_NOTHING_MORE_FROM(run);
        shownRows(run)[0]->click();
        COMPARE_BOX(seen, QMessageBox::Warning, "チャットルームへ入室",
                    "パスワードを入力してください。");
    }
    EXPECT_CLIENT_BYTES(run.server, request(EnterRoom, Wire().u32(0).str(flags ? "秘密" : "")));
    run.server.sendSplit(answer);
    if (!refusal.isEmpty()) {
        QTRY_COMPARE(box->handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Information, "チャットルームへ入室", refusal);
        QTRY_VERIFY(run.window->isEnabled());
        EXPECT_NOTHING_MORE_FROM(run);
        return;
    }
    // The room asks for the names of all members, in the order the server sent them.
    QVERIFY2(run.serveRoom(0, room(noRoom), {{9, "いち"}, {77, "たろう"}, {5, "ご"}}),
             qPrintable(run.server.failure()));
    run.tabs()->setCurrentWidget(run.roomList());
    WALK(run, 0, {0}, {room(noRoom, 0, flags)});
    QVERIFY(rowTexts(run)[0].startsWith("(disabled) [入室済] No.0 "));
}

void RoomListTest::createRoom_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("game");
    // The request's fields after the title, or the warning when nothing is sent.
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("warning");
    const auto sent = [](const char* name, const QString& title, const QString& password,
                         int capacity, int game, quint32 sentCapacity) {
        QTest::newRow(name)
            << title << password << capacity << game
            << Wire().str(password).u32(sentCapacity).u32(game ? 0 : chatOnlyGameId).bytes()
            << QString();
    };
    const auto refused = [](const char* name, const QString& title, const QString& password,
                            const QString& warning) {
        QTest::newRow(name) << title << password << 2 << 0 << QByteArray() << warning;
    };
    // No password: the room is open.
    sent("chat only, capacity at least 2", "雑談", "", 1, 0, 2);
    sent("game, 8 character password", "対戦", "12345678", 100, 1, 100);
    sent("capacity at most 100, title of 141 bytes", kana(47), "", 101, 1, 100);
    refused("title missing", "", "", "タイトルを入力してください。");
    refused("title of 144 bytes", kana(48), "", "タイトルが長すぎます。\n入力しなおしてください。");
    refused("password of 9 characters", "対戦", "123456789",
            "パスワードが長すぎます。\n入力しなおしてください。");
}

void RoomListTest::createRoom()
{
    QFETCH(QString, title);
    QFETCH(QString, password);
    QFETCH(int, capacity);
    QFETCH(int, game);
    QFETCH(QByteArray, sent);
    QFETCH(QString, warning);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomCreateDialog dialog(run.roomList(), run.socket());
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.show();
    typeInto(&dialog, "lineTitle", title);
    child<QCheckBox>(&dialog, "checkPass")->setChecked(!password.isEmpty());
    typeInto(&dialog, "linePass", password);
    child<QSpinBox>(&dialog, "spinUser")->setValue(capacity);
    child<QComboBox>(&dialog, "comboGame")->setCurrentIndex(game);
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    press(&dialog, QDialogButtonBox::Ok);
    if (!warning.isEmpty()) {
        COMPARE_BOX(seen, QMessageBox::Warning, "チャットルームの作成", warning);
        QVERIFY(dialog.isVisible());
        EXPECT_NOTHING_MORE_FROM(run);
        return;
    }
    EXPECT_CLIENT_BYTES(run.server, request(CreateRoom, Wire().str(title).raw(sent)));
    // While the answer is awaited neither the close button nor Escape leaves the dialog.
    QTRY_VERIFY(!dialog.isEnabled());
    QVERIFY(!dialog.close());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    // This server makes rooms for the game only; the creator enters one as its only member.
    run.server.send(replyFrame(Wire().u32(game == 1 ? 4 : noRoom)));
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(accepted.count(), game);
    if (game == 1) {
        QVERIFY2(run.serveRoom(4, RoomInfo(), {{LobbyWindow::ownId, "たろう"}}),
                 qPrintable(run.server.failure()));
        return;
    }
    COMPARE_BOX(seen, QMessageBox::Information, "チャットルームの作成",
                "新しいチャットルームを作れませんでした。");
    EXPECT_NOTHING_MORE_FROM(run);
}

QTEST_MAIN(RoomListTest)
#include "tst_roomlist.moc"
