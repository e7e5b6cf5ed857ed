// SPDX-License-Identifier: GPL-3.0-or-later
// The dialogs that set up, change and use the account: what each form refuses, what it sends, how
// it shows the server's answer, and how the registration dialogs let the user give up.
#include "accounts/accountregdialog.h"
#include "accounts/accountregkeydialog.h"
#include "accounts/accountregmaildialog.h"
#include "accounts/accountselectdialog.h"
#include "app/globals.h"
#include "app/usersettingsstore.h"
#include "mainwindow/admindialog.h"
#include "rooms/chatroomenterpassworddialog.h"
#include "settings/setmaildialog.h"
#include "settings/setnamedialog.h"
#include "settings/setpassdialog.h"
#include "settings/usersettingdialog.h"
#include "support/childscenario.h"
#include "support/dialogtesting.h"

#include <functional>
#include <memory>

namespace
{

// The line edits OK reads, the title of the input warnings and the title of the boxes that show
// the reply when it differs.
struct Form {
    QList<const char*> fields;
    const char* checkTitle;
    const char* replyTitle;
};

const QHash<QString, Form> forms = {
    {"name", {{"lineEdit"}, "ハンドル名の設定", ""}},
    {"mail", {{"lineEdit"}, "メールアドレスの設定", ""}},
    {"password", {{"lineEditCurrent", "lineEditNew0", "lineEditNew1"}, "パスワードの設定", ""}},
    {"regmail", {{"lineEditMail0", "lineEditMail1"}, "メールアドレスの確認", "メール登録"}},
    {"key", {{"lineEditKey0", "lineEditKey1"}, "登録キーの確認", "アカウント情報"}},
    {"account", {{"lineEditAccount", "lineEditPassword"}, "アカウント情報", ""}},
    {"admin", {{"lineGmes"}, "グローバルメッセージの確認", ""}},
    {"room", {{"linePass"}, "チャットルームへ入室", ""}},
};

std::unique_ptr<QDialog> makeDialog(const QString& kind, AccountCommands& s)
{
    const QHash<QString, std::function<QDialog*()>> make = {
        {"name", [&s] { return new SetNameDialog(nullptr, s); }},
        {"mail", [&s] { return new SetMailDialog(nullptr, s); }},
        {"password", [&s] { return new SetPassDialog(nullptr, s); }},
        {"regmail", [&s] { return new AccountRegMailDialog(nullptr, s); }},
        {"key", [&s] { return new AccountRegKeyDialog(nullptr, s); }},
        {"select", [&s] { return new AccountSelectDialog(nullptr, s); }},
        {"settings", [&s] { return new UserSettingDialog(nullptr, s); }},
        {"admin", [&s] { return new AdminDialog(nullptr, s); }},
        {"account", [] { return new AccountRegDialog(nullptr); }},
        {"room", [] { return new ChatRoomEnterPasswordDialog(nullptr); }},
    };
    return std::unique_ptr<QDialog>(make[kind]());
}

void submit(QDialog* dialog, const QString& kind, const QStringList& typed)
{
    for (int i = 0; i < typed.size(); ++i)
        typeInto(dialog, forms[kind].fields[i], typed[i]);
    if (kind == "admin")
        child<QPushButton>(dialog, "pushGmes")->click();
    else
        press(dialog, QDialogButtonBox::Ok);
}

// What OK sends: the first text, and for the password change the new password after the current
// one. Nothing for the dialogs that only store.
QByteArray requestOf(const QString& kind, const QStringList& typed)
{
    return QHash<QString, QByteArray>{
        {"name", frameBytes(SetNameRequest{typed[0]})},
        {"mail", frameBytes(SetMailRequest{typed[0]})},
        {"password", frameBytes(SetPasswordRequest{typed[0], typed.value(1)})},
        {"regmail", frameBytes(RegisterMailRequest{typed[0]})},
        {"key", frameBytes(RegisterKeyRequest{typed[0]})},
        {"admin", frameBytes(GlobalMessageRequest{typed[0]})}}
        .value(kind);
}

// Sent without an answer (stored, for the account); refused with the text as warning; left as
// typed says (how, then the answer to the text's question); or answered with that result.
enum { left = -3, sent, refused };

} // namespace

class SettingsDialogsTest : public QObject
{
    Q_OBJECT

  private slots:
    void walk_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* name, const char* kind, const QStringList& typed,
                            int result, const QString& text = {}) {
            QTest::newRow(name) << QString(kind) << typed << result << text;
        };
        const auto retype = [](const QString& why) { return why + "\n入力しなおしてください。"; };
        const auto tooLong = [&](const QString& what) { return retype(what + "が長すぎます。"); };
        const QString key = " " + kana(31) + " ";
        const QString bytes71 = kana(23) + "ab";

        row("name missing", "name", {""}, refused, "ハンドル名を入力してください。");
        row("name 39 kana", "name", {kana(39)}, sent);
        row("name 40 kana", "name", {kana(40)}, refused, tooLong("ハンドル名"));
        row("mail 215 bytes", "mail", {kana(70) + "@a.jp"}, sent);
        // The length is checked before the form.
        row("mail 216 bytes and wrong", "mail", {kana(72)}, refused, tooLong("メールアドレス"));
        row("mail without full stop", "mail", {"user@localhost"}, refused,
            retype("メールアドレスが間違っています。"));

        // The length is checked first, and on the new password, not on its confirmation.
        row("new password 72 bytes, confirmation differs", "password", {"old", kana(24), "new"},
            refused, tooLong("パスワード名"));
        row("new password differs in case", "password", {"old", "Secret", "secret"}, refused,
            retype("新しいパスワードの入力ミスです。"));
        row("passwords 71 bytes each, changed", "password", {bytes71, bytes71, bytes71}, 0,
            "パスワードの変更が完了しました。");
        row("current password wrong", "password", {"old", "new", "new"}, 1,
            "現在のパスワードが一致しません。\nご確認ください。");

        row("mail 192 bytes", "regmail", {kana(62) + "@ab.jp", kana(62) + "@ab.jp"}, refused,
            tooLong("メールアドレス"));
        row("mail 191 bytes, registered", "regmail", {kana(62) + "@a.jp", kana(62) + "@a.jp"}, 0,
            "メールアドレスの登録が完了しました。\n"
            "登録したメールアドレスに、アカウント登録用のキーが送られています。\n"
            "お手数ですがメールをご確認ください。");
        row("mail in use", "regmail", {"user@example.jp", "user@example.jp"}, 1,
            "入力したメールアドレスはすでに登録されてます。\nご確認ください。");

        row("key 96 bytes", "key", {kana(32), kana(32)}, refused, tooLong("登録キー"));
        row("key 95 bytes untrimmed, account created", "key", {key, key}, 0,
            "アカウントの登録が完了しました。\n登録したメールアドレスに、ログイン用の情報が送られて"
            "います。\nお手数ですがメールをご確認ください。");
        row("key already used", "key", {"7F3A-91C2", "7F3A-91C2"}, 1,
            "入力した登録キーはすでに登録されてます。\nご確認ください。");

        row("account 72 bytes", "account", {kana(24), "secret"}, refused, tooLong("アカウント"));
        row("password 72 bytes", "account", {"player1", kana(24)}, refused, tooLong("パスワード"));
        row("71 bytes each, stored untrimmed", "account", {" " + kana(23) + " ", bytes71}, sent);

        row("empty broadcast", "admin", {""}, sent);
        row("broadcast 287 bytes", "admin", {kana(95) + "!!"}, sent);
        row("broadcast 288 bytes", "admin", {kana(96)}, refused, tooLong("グローバルメッセージ"));

        row("room password 8 kana", "room", {kana(8)}, sent);
        row("room password 9 characters", "room", {"123456789"}, refused, tooLong("パスワード"));

        // Only the choice itself gives up for good, with Quit; the steps lead back to it.
        const QString giveUp = "tileParlorを利用するにはアカウント情報が必要です。\n"
                               "アカウント情報の設定をやめますか？";
        row("choice left by Cancel, Yes", "select", {"Cancel", "Yes"}, left, giveUp);
        row("key step closed, Yes", "key", {"close", "Yes"}, left, giveUp);
        row("account step left by Cancel, No", "account", {"Cancel", "No"}, left, giveUp);
    }

    void walk()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, typed);
        QFETCH(int, result);
        QFETCH(QString, text);
        const Form form = forms[kind];

        ConnectedCore lobby;
        VERIFY_STEP(lobby, open());
        storeUserSettings({{"account/password", "stored"}});
        auto dialog = makeDialog(kind, lobby.client.accounts());
        QSignalSpy accepted(dialog.get(), &QDialog::accepted);
        dialog->show();
        // The give-up question is answered as typed says; Yes is its first button.
        Modals modals([no = typed.value(1) == "No"](QWidget* modal) {
            if (no)
                static_cast<QMessageBox*>(modal)->button(QMessageBox::No)->click();
        });
        if (result == left || result == refused) {
            const bool question = result == left;
            if (!question)
                submit(dialog.get(), kind, typed);
            else if (typed[0] == "close")
                dialog->close();
            else
                press(dialog.get(), QDialogButtonBox::Cancel);
            QCOMPARE(modals.seen,
                     QStringList{boxText(question ? QMessageBox::Question : QMessageBox::Warning,
                                         question ? "アカウント情報" : form.checkTitle, text)});
            QCOMPARE(dialog->isVisible(), !question || typed[1] == "No");
            if (question && typed[1] == "Yes" && kind == "select")
                EXPECT_CLIENT_BYTES(lobby.server, frameBytes(QuitRequest{}));
            EXPECT_NOTHING_MORE(lobby);
            return;
        }
        submit(dialog.get(), kind, typed);
        if (!requestOf(kind, typed).isEmpty())
            EXPECT_CLIENT_BYTES(lobby.server, requestOf(kind, typed));
        if (result == sent) {
            // The broadcast tool is never answered, so it sends at every press; and it stays, for
            // nothing in the main window could bring it back.
            if (kind == "admin") {
                submit(dialog.get(), kind, typed);
                EXPECT_CLIENT_BYTES(lobby.server, requestOf(kind, typed));
                QVERIFY(!dialog->close());
            }
            QCOMPARE(accepted.count(), kind == "admin" ? 0 : 1);
            // A process ending right after the dialog reported success finds the account on disk.
            if (kind == "account")
                QCOMPARE(QStringList({valueOnDisk(lobby.env, "account/id").toString(),
                                      valueOnDisk(lobby.env, "account/password").toString()}),
                         typed);
            return;
        }
        QTRY_VERIFY(!dialog->isEnabled());
        // Leaving now would strand the reply: not even the give-up question may come.
        dialog->close();
        QVERIFY(dialog->isVisible());

        lobby.server.send(frameBytes(ResultReply{quint32(result)}));
        const QString title = *form.replyTitle ? form.replyTitle : form.checkTitle;
        QTRY_COMPARE(modals.seen, QStringList{boxText(result == 0 ? QMessageBox::Information
                                                                  : QMessageBox::Warning,
                                                      title, text)});
        QTRY_VERIFY(dialog->isEnabled());
        QCOMPARE(accepted.count(), result == 0 ? 1 : 0);
        QCOMPARE(dialog->isVisible(), result != 0);
        // The next start logs in with what the disk holds.
        if (kind == "password")
            QCOMPARE(valueOnDisk(lobby.env, "account/password").toString(),
                     result == 0 ? typed[1] : QString("stored"));
    }

    void fatal()
    {
        // A result the dialog does not list: client and server disagree on the protocol.
        VERIFY_FATAL_EXIT(runScenario("password"), "プロトコル異常");
        VERIFY_FATAL_EXIT(runScenario("settings"), "なぜか自分の名前が取得できなかった");
    }
};

static int runSettingsScenario(const QString& name)
{
    ConnectedCore lobby;
    auto answers = answerEveryModalWindow();
    ownUserId = 0x01020304;
    if (!lobby.open())
        return 90;
    // The settings window asks for the own name as it opens.
    auto dialog = makeDialog(name, lobby.client.accounts());
    dialog->show();
    const bool named = name == "settings";
    if (!named)
        submit(dialog.get(), name, {"old", "new", "new"});
    if (!lobby.server.expect(named ? getNameRequest(ownUserId) : requestOf(name, {"old", "new"})))
        return 91;
    lobby.server.send(named ? nameReply(1, "") : frameBytes(ResultReply{3}));
    return keepRunningUntilExit();
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(SettingsDialogsTest, runSettingsScenario)
#include "tst_settingsdialogs.moc"
