// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounts/accountregdialog.h"
#include "accounts/accountregkeydialog.h"
#include "accounts/accountregmaildialog.h"
#include "accounts/accountselectdialog.h"
#include "app/globals.h"
#include "clientwindow.h"
#include "lobbysystem.h"
#include "mainwindow/mainwindow.h"
#include "match/battledialog.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "settings/setnamedialog.h"
#include "support/dialogtesting.h"
#include "support/modalanswer.h"
#include "support/windowtabs.h"

#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>

namespace
{
const LobbyAccount player{"player", "player-pass", "プレイヤー"};
const LobbyAccount robota{"robota", "robota-pass", "ロボ太"};

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

} // namespace

#define VERIFY_LOBBY(step, lobby) QVERIFY2((step), qPrintable((lobby).failure))

class EndToEndTest : public QObject
{
    Q_OBJECT

  private slots:
    // A newcomer walks through the three registration dialogs with what the server mails and
    // names itself at the first login, a name the server then holds.
    void newcomerRegisters()
    {
        TestEnvironment env;
        LobbySystem lobby;
        VERIFY_LOBBY(lobby.start({}), lobby);
        const QString address = "newcomer@example.jp";
        // Taken when the dialog is up: the server mails them meanwhile.
        const auto mailed = [&](const char* label) { return lobby.mailedValue(address, label); };
        // Each step waits until the dialog is enabled again (a command out disables it). The
        // choice window stays up through the walk: each choice opens its dialog inside the click.
        // A dialog still up after its answer is closed without the program's rejection, which
        // would end the process with success.
        Modals login([&](QWidget* modal) {
            const auto enabled = [modal] {
                return QTest::qWaitFor([modal] { return modal->isEnabled(); }, 15000);
            };
            if (auto* select = qobject_cast<AccountSelectDialog*>(modal)) {
                for (const char* choice : {"rdoFirst", "rdoKey", "rdoExist"})
                    if (enabled())
                        choose(choice)(select);
            } else if (!enabled()) {
            } else if (auto* mail = qobject_cast<AccountRegMailDialog*>(modal)) {
                submit({"lineEditMail0", "lineEditMail1"}, {address, address})(mail);
            } else if (auto* key = qobject_cast<AccountRegKeyDialog*>(modal)) {
                submit({"lineEditKey0", "lineEditKey1"},
                       {mailed("登録キー"), mailed("登録キー")})(key);
            } else if (auto* account = qobject_cast<AccountRegDialog*>(modal)) {
                submit({"lineEditAccount", "lineEditPassword"},
                       {mailed("アカウント"), mailed("パスワード")})(account);
            } else if (auto* name = qobject_cast<SetNameDialog*>(modal)) {
                submit({"lineEdit"}, {"しんいり"})(name);
            } else {
                return;
            }
            if (!QTest::qWaitFor([modal] { return !modal->isVisible(); }, 15000))
                login.answerer.closeAll();
        });
        ClientWindow client(lobby.port(), lobby.caFile());
        QVERIFY(client.waitForRoomList());
        QCOMPARE(client.window->lobby().ownName(), QString("しんいり"));
        const QStringList expected = {
            "^AccountSelectDialog ",
            "^AccountRegMailDialog ",
            "^" + boxText(QMessageBox::Information, "メール登録", ".*登録用のキーが送られています"),
            "^AccountRegKeyDialog ",
            "^" + boxText(QMessageBox::Information, "アカウント情報", ".*ログイン用の情報が送られ"),
            "^AccountRegDialog ",
            "^SetNameDialog "};
        QCOMPARE(login.seen.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QVERIFY2(login.seen[i].contains(QRegularExpression(
                         expected[i], QRegularExpression::DotMatchesEverythingOption)),
                     qPrintable(login.seen.join('\n')));
    }

    // A whole match with a bot that hosts it in the game room, through the stand-in engine: the
    // client's engine is told where the bot's engine listens, as the server saw it, and gets the
    // stop order once the bot has ended the match. The bot greets the player and ends in order
    // when stopped as a terminal does. The client's side as host is the match tests' part.
    void matchWithABot()
    {
        TestEnvironment env;
        LobbySystem lobby;
        VERIFY_LOBBY(lobby.start({player, robota}), lobby);
        BotProcess* bot = lobby.addBot(
            robota, {"--room", "対戦ルーム", "--greet", "--recruit", "--battle-seconds", "1"});
        VERIFY_LOBBY(bot, lobby);
        // A recruit that starts while the client's room is still loading never reaches it.
        QVERIFY2(bot->said("recruiting"), qPrintable(bot->log()));
        userSettings->setValue("account/id", player.name);
        userSettings->setValue("account/password", player.password);
        machineSettings->setValue("SeikanEmbu", DEMOGAME_FOLDER);
        const QString engineLog = env.path("engine.log");
        qputenv("TILEPARLOR_DEMOENGINE_LOG", QFile::encodeName(engineLog));
        ClientWindow client(lobby.port(), lobby.caFile());
        QVERIFY(client.waitForRoomList());
        ChatRoomForm* room = client.enter("対戦ルーム", 1);
        QVERIFY(room);

        QVERIFY(client.clickWhenOffered([&]() -> QPushButton* {
            const auto* dialog = client.window->findChild<QDialog*>("ChatApplyMatchDialog");
            return dialog && dialog->isEnabled()
                       ? child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Yes)
                       : nullptr;
        }));
        QTRY_COMPARE_WITH_TIMEOUT(
            contents(engineLog),
            engineBlockHex(2, "127.0.0.1:14141") + '\n' + engineBlockHex(0) + '\n', 30000);
        QTRY_VERIFY(!client.window->findChild<BattleDialog*>());
        const QString chat = child<QPlainTextEdit>(room, "textLog")->toPlainText();
        QVERIFY2(chat.contains("[ロボ太] ようこそ、プレイヤーさん！"), qPrintable(chat));
        QCOMPARE(bot->stop(), 0);

        // Leaving another room keeps this one.
        ChatRoomForm* other = client.enter("ロビー", 0);
        QVERIFY(other);
        child<QPushButton>(other, "pushButtonLeave")->click();
        QTRY_VERIFY(!roomTabOf(client.window, 0));
        QVERIFY(roomTabOf(client.window, 1));
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
