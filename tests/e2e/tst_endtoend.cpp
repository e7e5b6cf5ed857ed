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
#include "settings/setnamedialog.h"
#include "support/dialogtesting.h"
#include "support/modalanswer.h"
#include "support/windowtabs.h"

#include <QRadioButton>

namespace
{
const LobbyAccount player{"player", "player-pass", "プレイヤー"};
const LobbyAccount robota{"robota", "robota-pass", "ロボ太"};
} // namespace

#define VERIFY_LOBBY(step, lobby) QVERIFY2((step), qPrintable((lobby).failure))

class EndToEndTest : public QObject
{
    Q_OBJECT

  private slots:
    // A newcomer walks through the three registration dialogs with what the server mails and
    // names itself at the first login, a name the server then holds. The dialogs' own texts and
    // checks are the settings dialogs' tests.
    void newcomerRegisters()
    {
        TestEnvironment env;
        LobbySystem lobby;
        VERIFY_LOBBY(lobby.start({}), lobby);
        // The mailed values are taken when the dialog is up: the server mails them meanwhile.
        // Each step waits until the dialog is enabled again (a command out disables it). The
        // choice window stays up through the walk: each choice opens its dialog inside the click.
        // A dialog still up after its answer is closed without the program's rejection, which
        // would end the process with success.
        Modals login([&](QWidget* modal) {
            const auto enabled = [modal] {
                return QTest::qWaitFor([modal] { return modal->isEnabled(); }, 15000);
            };
            const auto submit = [modal](const QStringList& fields, const QStringList& values) {
                for (int i = 0; i < fields.size(); ++i)
                    typeInto(modal, qPrintable(fields[i]), values[i]);
                press(modal, QDialogButtonBox::Ok);
            };
            if (qobject_cast<AccountSelectDialog*>(modal)) {
                for (const char* choice : {"rdoFirst", "rdoKey", "rdoExist"})
                    if (enabled()) {
                        child<QRadioButton>(modal, choice)->setChecked(true);
                        press(modal, QDialogButtonBox::Ok);
                    }
            } else if (!enabled()) {
            } else if (qobject_cast<AccountRegMailDialog*>(modal)) {
                submit({"lineEditMail0", "lineEditMail1"}, {"new@example.jp", "new@example.jp"});
            } else if (qobject_cast<AccountRegKeyDialog*>(modal)) {
                submit({"lineEditKey0", "lineEditKey1"},
                       {lobby.mailed("登録キー"), lobby.mailed("登録キー")});
            } else if (qobject_cast<AccountRegDialog*>(modal)) {
                submit({"lineEditAccount", "lineEditPassword"},
                       {lobby.mailed("アカウント"), lobby.mailed("パスワード")});
            } else if (qobject_cast<SetNameDialog*>(modal)) {
                submit({"lineEdit"}, {"しんいり"});
            } else {
                return;
            }
            if (!QTest::qWaitFor([modal] { return !modal->isVisible(); }, 15000))
                login.answerer.closeAll();
        });
        ClientWindow client(lobby.port(), lobby.caFile());
        QVERIFY2(client.waitForRoomList(), qPrintable(login.seen.join('\n')));
        QCOMPARE(client.window->lobby().ownName(), QString("しんいり"));
    }

    // A whole match with a bot that hosts it in the game room, through the stand-in engine: the
    // client's engine is told where the bot's engine listens, as the server saw it, and gets the
    // stop order once the bot has ended the match. The bot ends in order when stopped as a terminal
    // does. The client's side as host is the match tests' part.
    void matchWithABot()
    {
        TestEnvironment env;
        LobbySystem lobby;
        VERIFY_LOBBY(lobby.start({player, robota}), lobby);
        BotProcess* bot =
            lobby.addBot(robota, {"--room", "対戦ルーム", "--recruit", "--battle-seconds", "1"});
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
        QVERIFY(client.enter("対戦ルーム", 1));

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
