#include "rooms/chatroomcreatedialog.h"
#include "rooms/chatroomlistform.h"
#include "support/dialogtesting.h"
#include "support/lobbyframes.h"
#include "support/lobbywindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>

class ChatRoomCreateDialogTest : public QObject
{
    Q_OBJECT

  private slots:
    void create_data();
    void create();
    void serverCreatesNoRoom();
};

void ChatRoomCreateDialogTest::create_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("game");
    // The request's password, capacity and game id, or the warning when nothing is sent.
    QTest::addColumn<QString>("sentPassword");
    QTest::addColumn<quint32>("sentCapacity");
    QTest::addColumn<quint32>("sentGame");
    QTest::addColumn<QString>("warning");
    const auto sent = [](const char* name, const QString& title, bool locked,
                         const QString& password, int capacity, int game,
                         const QString& sentPassword, quint32 sentCapacity, quint32 sentGame) {
        QTest::newRow(name) << title << locked << password << capacity << game << sentPassword
                            << sentCapacity << sentGame << QString();
    };
    const auto refused = [](const char* name, const QString& title, const QString& password,
                            const QString& warning) {
        QTest::newRow(name) << title << true << password << 2 << 0 << QString() << 0u << 0u
                            << warning;
    };
    sent("chat only, open", "雑談", false, "ignored", 2, 0, "", 2, chatOnlyGameId);
    sent("game, locked", "対戦", true, "12345678", 100, 1, "12345678", 100, 0);
    sent("locked with empty password", "対戦", true, "", 5, 1, "", 5, 0);
    sent("capacity below 2", "雑談", false, "", 1, 0, "", 2, chatOnlyGameId);
    sent("capacity above 100", "雑談", false, "", 101, 0, "", 100, chatOnlyGameId);
    sent("title of 141 bytes", kana(47), false, "", 2, 0, "", 2, chatOnlyGameId);
    refused("title missing", "", "", "タイトルを入力してください。");
    refused("title of 144 bytes", kana(48), "", "タイトルが長すぎます。\n入力しなおしてください。");
    refused("password of 9 characters", "対戦", "123456789",
            "パスワードが長すぎます。\n入力しなおしてください。");
}

void ChatRoomCreateDialogTest::create()
{
    QFETCH(QString, title);
    QFETCH(bool, locked);
    QFETCH(QString, password);
    QFETCH(int, capacity);
    QFETCH(int, game);
    QFETCH(QString, sentPassword);
    QFETCH(quint32, sentCapacity);
    QFETCH(quint32, sentGame);
    QFETCH(QString, warning);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomCreateDialog dialog(run.roomList(), run.socket());
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.show();
    typeInto(&dialog, "lineTitle", title);
    child<QCheckBox>(&dialog, "checkPass")->setChecked(locked);
    typeInto(&dialog, "linePass", password);
    child<QSpinBox>(&dialog, "spinUser")->setValue(capacity);
    child<QComboBox>(&dialog, "comboGame")->setCurrentIndex(game);
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    press(&dialog, QDialogButtonBox::Ok);
    if (!warning.isEmpty()) {
        QCOMPARE(box->handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Warning, "チャットルームの作成", warning);
        QVERIFY(dialog.isVisible());
        EXPECT_NOTHING_MORE_FROM(run);
        return;
    }
    EXPECT_CLIENT_BYTES(
        run.server,
        frame(Wire().u32(CreateRoom).str(title).str(sentPassword).u32(sentCapacity).u32(sentGame)));
    // While the answer is awaited neither the close button nor Escape leaves the dialog.
    QTRY_VERIFY(!dialog.isEnabled());
    QVERIFY(!dialog.close());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    run.server.send(replyFrame(Wire().u32(4)));
    QTRY_COMPARE(accepted.count(), 1);
    // The creator enters the new room as its only member.
    QVERIFY2(run.serveRoom(4, RoomInfo(), {{LobbyWindow::ownId, "たろう"}}),
             qPrintable(run.server.failure()));
    QCOMPARE(box->handled(), 0);
}

void ChatRoomCreateDialogTest::serverCreatesNoRoom()
{
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomCreateDialog dialog(run.roomList(), run.socket());
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.show();
    typeInto(&dialog, "lineTitle", "雑談");
    press(&dialog, QDialogButtonBox::Ok);
    EXPECT_CLIENT_BYTES(
        run.server, frame(Wire().u32(CreateRoom).str("雑談").str("").u32(2).u32(chatOnlyGameId)));
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    run.server.send(replyFrame(Wire().u32(noRoom)));
    QTRY_COMPARE(rejected.count(), 1);
    COMPARE_BOX(seen, QMessageBox::Information, "チャットルームの作成",
                "新しいチャットルームを作れませんでした。");
    EXPECT_NOTHING_MORE_FROM(run);
}

QTEST_MAIN(ChatRoomCreateDialogTest)
#include "tst_chatroomcreatedialog.moc"
