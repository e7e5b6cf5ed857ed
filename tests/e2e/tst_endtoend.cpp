#include "accounts/accountregdialog.h"
#include "accounts/accountregkeydialog.h"
#include "accounts/accountregmaildialog.h"
#include "accounts/accountselectdialog.h"
#include "app/globals.h"
#include "clientwindow.h"
#include "lobbysystem.h"
#include "mainwindow/admindialog.h"
#include "mainwindow/mainwindow.h"
#include "match/battledialog.h"
#include "rooms/chatroomcreatedialog.h"
#include "rooms/chatroomenterpassworddialog.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "settings/setmaildialog.h"
#include "settings/setnamedialog.h"
#include "settings/setpassdialog.h"
#include "settings/usersettingdialog.h"
#include "support/dialogtesting.h"
#include "support/modalanswer.h"
#include "support/windowtabs.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>

namespace
{
const LobbyAccount player{"player", "player-pass", "プレイヤー"};
const LobbyAccount robota{"robota", "robota-pass", "ロボ太"};
const LobbyAccount administrator{"admin", "admin-pass", "管理人", "admin@example.jp", true};

std::function<void(AccountSelectDialog*)> choose(const char* choice)
{
    return [choice](AccountSelectDialog* dialog) {
        child<QRadioButton>(dialog, choice)->setChecked(true);
        press(dialog, QDialogButtonBox::Ok);
    };
}

// Types the values into the dialog's line edits, in order, and presses OK.
template <class Dialog = QDialog>
std::function<void(Dialog*)> submit(const QStringList& fields, const QStringList& values)
{
    return [=](Dialog* dialog) {
        for (int i = 0; i < fields.size(); ++i)
            typeInto(dialog, qPrintable(fields[i]), values.value(i));
        press(dialog, QDialogButtonBox::Ok);
    };
}

// A step in the settings window once it has fetched what the server holds: notes the name and
// mail it shows, then clicks the button, or OK.
ModalScript& inSettings(ModalScript& script, const ClientWindow& client, QStringList& shown,
                        const char* button = nullptr)
{
    return script.then<UserSettingDialog>(
        [&shown, button](UserSettingDialog* dialog) {
            shown << textOf(dialog, "lineEditName") + ' ' + textOf(dialog, "lineEditMail");
            button ? child<QPushButton>(dialog, button)->click()
                   : press(dialog, QDialogButtonBox::Ok);
        },
        [&client](UserSettingDialog*) { return client.isIdle(); });
}

} // namespace

#define VERIFY_LOBBY(step, lobby) QVERIFY2((step), qPrintable((lobby).failure))
#define RUN_SCRIPT(script) QVERIFY2((script).finish(), qPrintable((script).failure()))

class EndToEndTest : public QObject
{
    Q_OBJECT

  private slots:
    // A newcomer walks through the three registration dialogs with what the server mails and
    // names itself at the first login. Name, mail and password changed in the settings window
    // are then the server's for good: after a restart the stored password, now a wrong one, is
    // refused, the new one gets in, and the window shows the new name and mail.
    void newcomerRegistersAndChangesSettings()
    {
        TestEnvironment env;
        LobbySystem lobby;
        VERIFY_LOBBY(lobby.start({}), lobby);
        const QString address = "newcomer@example.jp", mail = "renamed@example.jp";
        const QString password = "new-pass-1";
        // Taken when the dialog is up: the server mails them meanwhile.
        const auto mailed = [&](const char* label) { return lobby.mailedValue(address, label); };
        for (const bool restarted : {false, true}) {
            ModalScript login;
            if (!restarted) {
                login.then(choose("rdoFirst"))
                    .then(submit<AccountRegMailDialog>({"lineEditMail0", "lineEditMail1"},
                                                       {address, address}))
                    .box(QMessageBox::Information, "メール登録", "登録用のキーが送られています")
                    .then(choose("rdoKey"))
                    .then<AccountRegKeyDialog>([&](AccountRegKeyDialog* dialog) {
                        submit({"lineEditKey0", "lineEditKey1"},
                               {mailed("登録キー"), mailed("登録キー")})(dialog);
                    })
                    .box(QMessageBox::Information, "アカウント情報", "ログイン用の情報が送られ")
                    .then(choose("rdoExist"))
                    .then<AccountRegDialog>([&](AccountRegDialog* dialog) {
                        submit({"lineEditAccount", "lineEditPassword"},
                               {mailed("アカウント"), mailed("パスワード")})(dialog);
                    })
                    .then(submit<SetNameDialog>({"lineEdit"}, {"しんいり"}));
            } else {
                VERIFY_LOBBY(lobby.restart(), lobby);
                userSettings->setValue("account/password", "wrong-pass");
                login.box(QMessageBox::Warning, "アカウント情報", "ログインに失敗しました")
                    .then(choose("rdoExist"))
                    .then(submit<AccountRegDialog>({"lineEditAccount", "lineEditPassword"},
                                                   {mailed("アカウント"), password}));
            }
            ClientWindow client(lobby.port());
            RUN_SCRIPT(login);
            QVERIFY(client.waitForRoomList());

            ModalScript settings;
            QStringList shown;
            if (!restarted) {
                inSettings(settings, client, shown, "pushButtonName")
                    .then(submit<SetNameDialog>({"lineEdit"}, {"改名した人"}));
                inSettings(settings, client, shown, "pushButtonMail")
                    .then(submit<SetMailDialog>({"lineEdit"}, {mail}));
                inSettings(settings, client, shown, "pushButtonPassword")
                    .then(submit<SetPassDialog>({"lineEditCurrent", "lineEditNew0", "lineEditNew1"},
                                                {mailed("パスワード"), password, password}))
                    .box(QMessageBox::Information, "パスワードの設定", "変更が完了しました");
            }
            inSettings(settings, client, shown);
            client.window->findChild<QAction*>("action_S")->trigger();
            RUN_SCRIPT(settings);
            const QString now = "改名した人 " + mail;
            QCOMPARE(shown, (restarted ? QStringList{now}
                                       : QStringList{"しんいり " + address, "改名した人 " + address,
                                                     now, now}));
        }
    }

    // An administrator with a bot in the lobby: a global message comes back from the server as
    // the new system message; entering a locked room takes its password, the bot greets and
    // answers in its room, a created room is listed while it is used and goes when it is left.
    void roomsWithABot()
    {
        TestEnvironment env;
        LobbySystem lobby;
        VERIFY_LOBBY(lobby.start({administrator, robota}), lobby);
        BotProcess* bot = lobby.addBot(robota, {"--room", "ロビー", "--greet", "--answer"});
        VERIFY_LOBBY(bot, lobby);
        userSettings->setValue("account/id", administrator.name);
        userSettings->setValue("account/password", administrator.password);
        userSettings->setValue("admin", "true");
        ClientWindow client(lobby.port());
        ChatRoomListForm* list = client.waitForRoomList();
        QVERIFY(list);

        const auto* tool = child<AdminDialog>(client.window, "AdminDialog");
        typeInto(tool, "lineGmes", "本日22時から臨時メンテナンス");
        child<QPushButton>(tool, "pushGmes")->click();
        QTRY_COMPARE(textOf(client.window, "lineSysMessage"),
                     QString("本日22時から臨時メンテナンス"));

        // The refused password first.
        ModalScript entry;
        entry.then(submit<ChatRoomEnterPasswordDialog>({"linePass"}, {"wrong"}))
            .box(QMessageBox::Information, "チャットルームへ入室", "パスワードが違います")
            .then(submit<ChatRoomEnterPasswordDialog>({"linePass"}, {"demo"}));
        QVERIFY(client.clickRow("秘密の部屋"));
        QVERIFY(client.clickRow("秘密の部屋"));
        RUN_SCRIPT(entry);

        QVERIFY(client.clickRow("ロビー"));
        ChatRoomForm* chat = client.waitForRoom(0);
        QVERIFY(chat);
        const auto* chatLog = child<QPlainTextEdit>(chat, "textLog");
        QTRY_VERIFY(chatLog->toPlainText().contains("[ロボ太] ようこそ、管理人さん！"));
        typeInto(chat, "lineSpeak", "ロボ太さん、調子はどう？");
        child<QPushButton>(chat, "btnSpeak")->click();
        // The greeting, then the answer to the line addressed to it.
        QTRY_COMPARE(chatLog->toPlainText().count("[ロボ太] "), 2);

        ModalScript creation;
        creation.then<ChatRoomCreateDialog>([](ChatRoomCreateDialog* dialog) {
            child<QSpinBox>(dialog, "spinUser")->setValue(4);
            submit({"lineTitle"}, {"作った部屋"})(dialog);
        });
        QVERIFY(client.showIdle(list));
        child<QPushButton>(list, "pushCreateRoom")->click();
        RUN_SCRIPT(creation);
        // The first free number.
        QVERIFY(client.waitForRoom(3));
        QVERIFY(client.showIdle(list));
        const QStringList rows = {"[入室済] No.0 (2/100) [Open]\nロビー\nチャット専用部屋",
                                  "No.1 (0/100) [Open]\n対戦ルーム\n星環演武",
                                  "[入室済] No.2 (1/100) [Locked]\n秘密の部屋\nチャット専用部屋",
                                  "[入室済] No.3 (1/4) [Open]\n作った部屋\nチャット専用部屋"};
        QTRY_COMPARE(client.rows(), rows);

        QVERIFY(client.showIdle(roomTabOf(client.window, 3)));
        child<QPushButton>(roomTabOf(client.window, 3), "pushButtonLeave")->click();
        QTRY_VERIFY(!roomTabOf(client.window, 3));
        QVERIFY(client.showIdle(list));
        QTRY_COMPARE(client.rows(), rows.mid(0, 3));
        QCOMPARE(bot->stop(), 0);
    }

    void matchWithABot_data()
    {
        QTest::addColumn<QString>("botRole");
        QTest::addColumn<QByteArray>("startOrder");
        // The guest's engine is told where the host's engine listens, as the server saw it.
        QTest::newRow("the bot hosts") << "--recruit" << engineBlockHex(2, "127.0.0.1:14141");
        QTest::newRow("the client hosts") << "--apply" << engineBlockHex(1);
    }

    // A whole match with a bot in the game room, through the stand-in engine: the client's engine
    // gets the start order of its side and, when the bot has ended its side, the stop order.
    void matchWithABot()
    {
        QFETCH(QString, botRole);
        QFETCH(QByteArray, startOrder);
        TestEnvironment env;
        LobbySystem lobby;
        VERIFY_LOBBY(lobby.start({player, robota}), lobby);
        BotProcess* bot =
            lobby.addBot(robota, {"--room", "対戦ルーム", botRole, "--battle-seconds", "1"});
        VERIFY_LOBBY(bot, lobby);
        // A recruit that starts while the client's room is still loading never reaches it.
        if (botRole == "--recruit")
            QVERIFY2(bot->said("recruiting"), qPrintable(bot->log()));
        userSettings->setValue("account/id", player.name);
        userSettings->setValue("account/password", player.password);
        machineSettings->setValue("SeikanEmbu", DEMOGAME_FOLDER);
        const QString engineLog = env.path("engine.log");
        qputenv("TILEPARLOR_DEMOENGINE_LOG", QFile::encodeName(engineLog));
        ClientWindow client(lobby.port());
        QVERIFY(client.waitForRoomList());
        QVERIFY(client.clickRow("対戦ルーム"));
        ChatRoomForm* room = client.waitForRoom(1);
        QVERIFY(room);

        // The host, still alone, recruits again for whoever comes in.
        if (botRole == "--apply")
            child<QPushButton>(room, "pushButtonBattle")->click();
        QVERIFY(client.clickWhenOffered([&]() -> QPushButton* {
            const auto* dialog = client.window->findChild<QDialog*>(
                botRole == "--apply" ? "ChatRecruitMatchDialog" : "ChatApplyMatchDialog");
            return dialog && dialog->isEnabled()
                       ? child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Yes)
                       : nullptr;
        }));
        QTRY_COMPARE_WITH_TIMEOUT(contents(engineLog), startOrder + '\n' + engineBlockHex(0) + '\n',
                                  30000);
        QTRY_VERIFY(!client.window->findChild<BattleDialog*>());
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
