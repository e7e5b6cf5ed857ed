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
#include "match/chatapplymatchdialog.h"
#include "match/chatrecruitmatchdialog.h"
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
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

namespace
{
const LobbyAccount player{"player", "player-pass", "プレイヤー", "player@example.jp"};
const LobbyAccount robota{"robota", "robota-pass", "ロボ太"};
const LobbyAccount administrator{"admin", "admin-pass", "管理人", "admin@example.jp", true};

void storeAccount(const QString& name, const QString& password)
{
    userSettings->setValue("account/id", name);
    userSettings->setValue("account/password", password);
}

std::function<void(AccountSelectDialog*)> choose(const char* choice)
{
    return [choice](AccountSelectDialog* dialog) {
        child<QRadioButton>(dialog, choice)->setChecked(true);
        press(dialog, QDialogButtonBox::Ok);
    };
}

// Types the values into the dialog's line edits, in order, and presses OK.
void fill(QDialog* dialog, const QStringList& fields, const QStringList& values)
{
    for (int i = 0; i < fields.size(); ++i)
        typeInto(dialog, qPrintable(fields[i]), values.value(i));
    press(dialog, QDialogButtonBox::Ok);
}

template <class Dialog>
std::function<void(Dialog*)> submit(const QStringList& fields, const QStringList& values)
{
    return [=](Dialog* dialog) { fill(dialog, fields, values); };
}

// The settings window once it shows what the server holds.
std::function<bool(UserSettingDialog*)> showing(const QString& name, const QString& mail)
{
    return [name, mail](UserSettingDialog* dialog) {
        return textOf(dialog, "lineEditName") == name && textOf(dialog, "lineEditMail") == mail;
    };
}

std::function<void(UserSettingDialog*)> clickButton(const char* button)
{
    return [button](UserSettingDialog* dialog) { child<QPushButton>(dialog, button)->click(); };
}

// Opens the settings window for the script's steps, and closes it once it shows the name and
// mail.
void walkSettings(ModalScript& script, const ClientWindow& client, const QString& name,
                  const QString& mail)
{
    script.then<UserSettingDialog>(
        [](UserSettingDialog* dialog) { press(dialog, QDialogButtonBox::Ok); },
        showing(name, mail));
    client.get()->findChild<QAction*>("action_S")->trigger();
}

// Presses a button of the match dialog of this kind once it offers it.
template <class Dialog>
bool pressWhenOffered(const ClientWindow& client, QDialogButtonBox::StandardButton which)
{
    QPushButton* button = nullptr;
    const auto offered = [&] {
        const auto* dialog = client.get()->findChild<Dialog*>();
        button = dialog && dialog->isEnabled() && client.isIdle()
                     ? child<QDialogButtonBox>(dialog, "buttonBox")->button(which)
                     : nullptr;
        return button != nullptr;
    };
    if (!QTest::qWaitFor(offered, 15000))
        return false;
    button->click();
    return true;
}

// An order block as the engine reads it, in hex, one line of the stand-in engine's log.
QByteArray orderBlock(char order, const QByteArray& text = {})
{
    return (order + QByteArray(15, '\0') + text).leftJustified(272, '\0').toHex();
}
} // namespace

#define VERIFY_LOBBY(step, lobby) QVERIFY2((step), qPrintable((lobby).failure()))
#define RUN_SCRIPT(script) QVERIFY2((script).finish(), qPrintable((script).failure()))

class EndToEndTest : public QObject
{
    Q_OBJECT

  private slots:
    // A newcomer walks through the three registration dialogs with what the server mails, names
    // itself at the first login and reaches the room list.
    void registrationThroughTheDialogs()
    {
        TestEnvironment env;
        LobbySystem lobby;
        VERIFY_LOBBY(lobby.start({}), lobby);
        const QString mail = "newcomer@example.jp";
        // Taken when the dialog is up: the server mails them meanwhile.
        const auto mailed = [&](const char* label) { return lobby.mailedValue(mail, label); };

        ModalScript script;
        script.then(choose("rdoFirst"))
            .then(submit<AccountRegMailDialog>({"lineEditMail0", "lineEditMail1"}, {mail, mail}))
            .box(QMessageBox::Information, "メール登録",
                 "メールアドレスの登録が完了しました。\n登録したメールアドレスに、アカウント登録用"
                 "のキーが送られています。\nお手数ですがメールをご確認ください。")
            .then(choose("rdoKey"))
            .then<AccountRegKeyDialog>([&](AccountRegKeyDialog* dialog) {
                fill(dialog, {"lineEditKey0", "lineEditKey1"},
                     {mailed("登録キー"), mailed("登録キー")});
            })
            .box(QMessageBox::Information, "アカウント情報",
                 "アカウントの登録が完了しました。\n登録したメールアドレスに、ログイン用の情報が"
                 "送られています。\nお手数ですがメールをご確認ください。")
            .then(choose("rdoExist"))
            .then<AccountRegDialog>([&](AccountRegDialog* dialog) {
                fill(dialog, {"lineEditAccount", "lineEditPassword"},
                     {mailed("アカウント"), mailed("パスワード")});
            })
            .then(submit<SetNameDialog>({"lineEdit"}, {"しんいり"}));
        ClientWindow client(lobby.port());
        RUN_SCRIPT(script);

        ChatRoomListForm* list = client.waitForRoomList();
        QVERIFY(list);
        QCOMPARE(textOf(list, "lineName"), QString("しんいり"));
        QVERIFY(!mailed("アカウント").isEmpty());
        QCOMPARE(valueOnDisk(env, "account/id").toString(), mailed("アカウント"));
    }

    // A refused login leads back to the account choice, and the right password gets in. Name,
    // mail and password changed in the settings window are then the server's for good: after a
    // restart the new password logs in and the window shows the new name and mail.
    void loginAndSettingsOutliveARestart()
    {
        TestEnvironment env;
        LobbySystem lobby;
        VERIFY_LOBBY(lobby.start({player}), lobby);
        storeAccount(player.name, "wrong-pass");
        const QString name = "改名した人";
        const QString mail = "renamed@example.jp";
        const QString password = "new-pass-1";
        {
            ModalScript login;
            login
                .box(QMessageBox::Warning, "アカウント情報",
                     "ログインに失敗しました。\nアカウント名、パスワードを確認してください。")
                .then(choose("rdoExist"))
                .then(submit<AccountRegDialog>({"lineEditAccount", "lineEditPassword"},
                                               {player.name, player.password}));
            ClientWindow client(lobby.port());
            RUN_SCRIPT(login);
            ChatRoomListForm* list = client.waitForRoomList();
            QVERIFY(list);
            QCOMPARE(textOf(list, "lineName"), player.handle);

            ModalScript script;
            script.then(clickButton("pushButtonName"), showing(player.handle, player.mail))
                .then(submit<SetNameDialog>({"lineEdit"}, {name}))
                .then(clickButton("pushButtonMail"), showing(name, player.mail))
                .then(submit<SetMailDialog>({"lineEdit"}, {mail}))
                .then(clickButton("pushButtonPassword"), showing(name, mail))
                .then(submit<SetPassDialog>({"lineEditCurrent", "lineEditNew0", "lineEditNew1"},
                                            {player.password, password, password}))
                .box(QMessageBox::Information, "パスワードの設定",
                     "パスワードの変更が完了しました。");
            walkSettings(script, client, name, mail);
            RUN_SCRIPT(script);
            QCOMPARE(textOf(list, "lineName"), name);
            QCOMPARE(valueOnDisk(env, "account/password").toString(), password);
        }

        VERIFY_LOBBY(lobby.restart(), lobby);
        ClientWindow client(lobby.port());
        QVERIFY(client.waitForRoomList());
        ModalScript script;
        walkSettings(script, client, name, mail);
        RUN_SCRIPT(script);
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
        storeAccount(administrator.name, administrator.password);
        userSettings->setValue("admin", "true");
        ClientWindow client(lobby.port());
        ChatRoomListForm* list = client.waitForRoomList();
        QVERIFY(list);

        const auto* line = child<QLineEdit>(client.get(), "lineSysMessage");
        QCOMPARE(line->text(), QString("テストロビーへようこそ"));
        auto* tool = client.get()->findChild<AdminDialog*>();
        QVERIFY(tool && tool->isVisible());
        typeInto(tool, "lineGmes", "本日22時から臨時メンテナンスを行います");
        child<QPushButton>(tool, "pushGmes")->click();
        QTRY_COMPARE(line->text(), QString("本日22時から臨時メンテナンスを行います"));

        for (const char* password : {"wrong", "demo"}) {
            ModalScript entry;
            entry.then(submit<ChatRoomEnterPasswordDialog>({"linePass"}, {password}));
            if (password == QString("wrong"))
                entry.box(QMessageBox::Information, "チャットルームへ入室",
                          "入室できませんでした。\nパスワードが違います。");
            QVERIFY(client.clickRow("秘密の部屋"));
            RUN_SCRIPT(entry);
        }
        QVERIFY(client.waitForRoom(LockedRoom));

        QVERIFY(client.clickRow("ロビー"));
        ChatRoomForm* chat = client.waitForRoom(ChatRoom);
        QVERIFY(chat);
        QCOMPARE(child<QListWidget>(chat, "listUser")->count(), 2);
        QTRY_VERIFY(chatLog(chat).contains("[ロボ太] ようこそ、管理人さん！"));
        typeInto(chat, "lineSpeak", "ロボ太さん、調子はどう？");
        child<QPushButton>(chat, "btnSpeak")->click();
        QTRY_VERIFY(chatLog(chat).contains("[管理人] ロボ太さん、調子はどう？"));
        // The greeting, then the answer to the line addressed to it.
        QTRY_COMPARE(chatLog(chat).filter("[ロボ太] ").size(), 2);

        ModalScript creation;
        creation.then<ChatRoomCreateDialog>([](ChatRoomCreateDialog* dialog) {
            child<QSpinBox>(dialog, "spinUser")->setValue(4);
            fill(dialog, {"lineTitle"}, {"作った部屋"});
        });
        QVERIFY(client.showIdle(list));
        child<QPushButton>(list, "pushCreateRoom")->click();
        RUN_SCRIPT(creation);
        QTRY_COMPARE(tabsOf(client.get())->count(), 4);
        auto* created = qobject_cast<ChatRoomForm*>(tabsOf(client.get())->currentWidget());
        QVERIFY(created);
        QCOMPARE(textOf(created, "lineTitle"), QString("作った部屋"));
        QVERIFY(client.showIdle(list));
        QStringList rows = {"[入室済] No.0 (2/50) [Open]\nロビー\nチャット専用部屋",
                            "No.1 (0/20) [Open]\n対戦ルーム\n星環演武",
                            "[入室済] No.2 (1/10) [Locked]\n秘密の部屋\nチャット専用部屋",
                            QString("[入室済] No.%1 (1/4) [Open]\n作った部屋\nチャット専用部屋")
                                .arg(created->roomId)};
        QTRY_COMPARE(client.rows(), rows);

        for (ChatRoomForm* room : {created, chat}) {
            // The form goes soon after its tab.
            const quint32 roomId = room->roomId;
            QVERIFY(client.showIdle(room));
            child<QPushButton>(room, "pushButtonLeave")->click();
            QTRY_VERIFY(!roomTabOf(client.get(), roomId));
        }
        QVERIFY(client.showIdle(list));
        rows[0] = "No.0 (1/50) [Open]\nロビー\nチャット専用部屋";
        QTRY_COMPARE(client.rows(), rows.mid(0, 3));
        QCOMPARE(bot->stop(), 0);
    }

    void matchWithABot_data()
    {
        QTest::addColumn<QString>("botRole");
        QTest::addColumn<QByteArray>("startOrder");
        // The guest's engine is told where the host's engine listens, as the server saw it.
        QTest::newRow("the bot hosts") << "--recruit" << orderBlock(2, "127.0.0.1:14141");
        QTest::newRow("the client hosts") << "--apply" << orderBlock(1);
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
        storeAccount(player.name, player.password);
        machineSettings->setValue("SeikanEmbu", DEMOGAME_FOLDER);
        const QString engineLog = env.path("engine.log");
        qputenv("TILEPARLOR_DEMOENGINE_LOG", QFile::encodeName(engineLog));
        ClientWindow client(lobby.port());
        QVERIFY(client.waitForRoomList());
        QVERIFY(client.clickRow("対戦ルーム"));
        ChatRoomForm* room = client.waitForRoom(GameRoom);
        QVERIFY(room);

        if (botRole == "--apply") {
            child<QPushButton>(room, "pushButtonBattle")->click();
            QVERIFY(pressWhenOffered<ChatRecruitMatchDialog>(client, QDialogButtonBox::Yes));
        } else {
            // The host, still alone, recruits again for whoever comes in.
            QVERIFY(pressWhenOffered<ChatApplyMatchDialog>(client, QDialogButtonBox::Yes));
        }
        // The button's own state: the window as a whole is off while a command is out.
        const auto* battleButton = child<QPushButton>(room, "pushButtonBattle");
        QTRY_VERIFY_WITH_TIMEOUT(client.get()->findChild<BattleDialog*>(), 15000);
        QVERIFY(!battleButton->isEnabledTo(client.get()));
        QTRY_VERIFY_WITH_TIMEOUT(!client.get()->findChild<BattleDialog*>(), 15000);
        QVERIFY(battleButton->isEnabledTo(client.get()));
        const auto engineRead = [&] {
            QFile log(engineLog);
            return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        };
        QTRY_COMPARE(engineRead(), startOrder + '\n' + orderBlock(0) + '\n');
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
