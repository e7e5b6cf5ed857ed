#include "support/dialogtesting.h"
#include "app/globals.h"
#include "app/usersettingsstore.h"
#include "mainwindow/mainwindow.h"
#include "settings/setmaildialog.h"
#include "settings/setnamedialog.h"
#include "settings/setpassdialog.h"
#include "settings/usersettingdialog.h"
#include "support/childscenario.h"

#include <memory>

namespace
{

// The settings window reports the fetched name to the main window. The main window's own lobby
// takes the hello and never answers it, so the window stays disabled and sends nothing else. It
// is opened before the lobby the test talks to: both find their server through the environment.
struct SettingsRun {
    ConnectedLobby lobby;
    FakeLobbyServer ownerServer;
    std::unique_ptr<MainWindow> owner;

    ~SettingsRun() { mainWindow = nullptr; }
    bool open()
    {
        ownerServer.exportAddress();
        owner = std::make_unique<MainWindow>();
        mainWindow = owner.get();
        return ownerServer.expect(clientHello()) && lobby.open();
    }
};

constexpr quint32 testUserId = 0x01020304;

const QByteArray ownNameRequest = frame(QByteArray::fromHex("0600000004030201"));

// Serves the window's GetName for the own id, then its GetMail.
bool serveFetch(FakeLobbyServer& server, const QString& name, const QString& mail)
{
    if (!server.expect(ownNameRequest))
        return false;
    server.send(replyFrame(Wire().u32(0).str(name)));
    if (!server.expect(frame(QByteArray::fromHex("08000000"))))
        return false;
    server.send(replyFrame(Wire().str(mail)));
    return true;
}

#define SERVE_FETCH(run, name, mail)                                                               \
    QVERIFY2(serveFetch((run).lobby.server, name, mail), qPrintable((run).lobby.server.failure()))

// The fields a change dialog asks for, the code OK sends and the title of its warnings.
struct ChangeForm {
    QList<const char*> fields;
    quint32 code;
    const char* title;
};

ChangeForm changeForm(const QString& kind)
{
    if (kind == "name")
        return {{"lineEdit"}, 7, "ハンドル名の設定"};
    if (kind == "mail")
        return {{"lineEdit"}, 9, "メールアドレスの設定"};
    return {{"lineEditCurrent", "lineEditNew0", "lineEditNew1"}, 5, "パスワードの設定"};
}

std::unique_ptr<QDialog> makeChange(const QString& kind, ProtocolSocket* socket)
{
    if (kind == "name")
        return std::make_unique<SetNameDialog>(nullptr, socket);
    if (kind == "mail")
        return std::make_unique<SetMailDialog>(nullptr, socket);
    return std::make_unique<SetPassDialog>(nullptr, socket);
}

} // namespace

class SettingsDialogsTest : public QObject
{
    Q_OBJECT

  private slots:
    void init() { ownUserId = testUserId; }
    void change_data();
    void change();
    void fetchesAgainAfterChangeDialog_data();
    void fetchesAgainAfterChangeDialog();
    void fatal_data();
    void fatal();
};

void SettingsDialogsTest::change_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, const char* kind, const QStringList& typed, int result,
                        const QString& text) {
        QTest::newRow(name) << QString(kind) << typed << result << text;
    };
    // Sent, and for the password answered with result; or refused with the text as warning.
    const int sent = 0;
    const int refused = -1;

    row("name missing", "name", {""}, refused, "ハンドル名を入力してください。");
    row("name 39 kana", "name", {kana(39)}, sent, "");
    row("name 40 kana", "name", {kana(40)}, refused,
        "ハンドル名が長すぎます。\n入力しなおしてください。");

    const QString longMail = "メールアドレスが長すぎます。\n入力しなおしてください。";
    const QString wrongMail = "メールアドレスが間違っています。\n入力しなおしてください。";
    row("mail missing", "mail", {""}, refused, "メールアドレスを入力してください。");
    row("mail 215 bytes, at sign first", "mail", {kana(70) + "@a.jp"}, sent, "");
    row("mail 216 bytes", "mail", {kana(70) + "@ab.jp"}, refused, longMail);
    row("mail too long and wrong", "mail", {kana(72)}, refused, longMail);
    row("mail without full stop", "mail", {"user@localhost"}, refused, wrongMail);
    row("mail without at sign", "mail", {"user.example.jp"}, refused, wrongMail);
    row("mail full stop first", "mail", {"first.last@localhost"}, sent, "");

    const QString missing = "パスワードを入力してください。";
    const QString tooLong = "パスワード名が長すぎます。\n入力しなおしてください。";
    const QString bytes71 = kana(23) + "ab";
    row("current password missing", "password", {"", "new", "new"}, refused, missing);
    row("confirmation missing", "password", {"old", "new", ""}, refused, missing);
    row("current password 72 bytes", "password", {kana(24), "new", "new"}, refused, tooLong);
    // The length is checked first, and on the new password, not on its confirmation.
    row("new password 72 bytes, confirmation differs", "password", {"old", kana(24), "new"},
        refused, tooLong);
    row("new password differs in case", "password", {"old", "Secret", "secret"}, refused,
        "新しいパスワードの入力ミスです。\n入力しなおしてください。");
    row("passwords 71 bytes each, changed", "password", {bytes71, bytes71, bytes71}, 0,
        "パスワードの変更が完了しました。");
    row("current password wrong", "password", {"old", "new", "new"}, 1,
        "現在のパスワードが一致しません。\nご確認ください。");
    row("new password too long for the server", "password", {"old", "new", "new"}, 2,
        "入力した新しいパスワードの文字数が長すぎます。\n入力しなおしてください。");
}

void SettingsDialogsTest::change()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, typed);
    QFETCH(int, result);
    QFETCH(QString, text);
    const ChangeForm form = changeForm(kind);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    storeUserSettings({{"account/password", "stored"}});
    auto dialog = makeChange(kind, &lobby.socket);
    QSignalSpy accepted(dialog.get(), &QDialog::accepted);
    dialog->show();
    for (int i = 0; i < form.fields.size(); ++i)
        typeInto(dialog.get(), form.fields[i], typed[i]);
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    press(dialog.get(), QDialogButtonBox::Ok);

    if (result < 0) {
        QCOMPARE(box->handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Warning, form.title, text);
        QVERIFY(dialog->isVisible());
        for (int i = 0; i < form.fields.size(); ++i)
            QCOMPARE(textOf(dialog.get(), form.fields[i]), typed[i]);
        EXPECT_NOTHING_MORE(lobby);
        return;
    }
    Wire request;
    request.u32(form.code).str(typed[0]);
    if (kind == "password")
        request.str(typed[1]);
    EXPECT_CLIENT_BYTES(lobby.server, frame(request));
    if (kind != "password") {
        QCOMPARE(box->handled(), 0);
        QCOMPARE(accepted.count(), 1);
        return;
    }

    lobby.server.send(replyFrame(Wire().u32(result)));
    QTRY_COMPARE(box->handled(), 1);
    COMPARE_BOX(seen, result == 0 ? QMessageBox::Information : QMessageBox::Warning, form.title,
                text);
    QTRY_VERIFY(dialog->isEnabled());
    QCOMPARE(accepted.count(), result == 0 ? 1 : 0);
    QCOMPARE(dialog->isVisible(), result != 0);
    // The next start logs in with what the disk holds.
    QCOMPARE(valueOnDisk(lobby.env, "account/password").toString(),
             result == 0 ? typed[1] : QString("stored"));
}

void SettingsDialogsTest::fetchesAgainAfterChangeDialog_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("changeDialog");
    QTest::addColumn<QString>("leaveBy");
    const auto row = [](const char* name, const char* button, const char* dialog, const char* by) {
        QTest::newRow(name) << QString(button) << QString(dialog) << QString(by);
    };
    row("name, Cancel", "pushButtonName", "SetNameDialog", "Cancel");
    row("password, close button", "pushButtonPassword", "SetPassDialog", "close");
    row("mail changed", "pushButtonMail", "SetMailDialog", "OK");
}

void SettingsDialogsTest::fetchesAgainAfterChangeDialog()
{
    QFETCH(QString, button);
    QFETCH(QString, changeDialog);
    QFETCH(QString, leaveBy);

    SettingsRun run;
    QVERIFY2(run.open(), qPrintable(run.lobby.server.failure()));
    UserSettingDialog dialog(nullptr, &run.lobby.socket);
    dialog.show();
    SERVE_FETCH(run, "たろう", "taro@example.jp");
    QTRY_VERIFY(dialog.isEnabled());

    QString ran;
    bool leftOpen = false;
    auto change = answerDialog<QDialog>([&](QDialog* modal) {
        ran = modal->metaObject()->className();
        if (leaveBy == "OK")
            typeInto(modal, "lineEdit", "jiro@example.jp");
        if (leaveBy != "close") {
            press(modal, leaveBy == "OK" ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
            return;
        }
        modal->close();
        // Ends exec() even when the close button did not.
        leftOpen = modal->isVisible();
        if (leftOpen)
            modal->reject();
    });
    child<QPushButton>(&dialog, qPrintable(button))->click();
    QCOMPARE(ran, changeDialog);
    QVERIFY(!leftOpen);
    if (leaveBy == "OK")
        EXPECT_CLIENT_BYTES(run.lobby.server, frame(Wire().u32(9).str("jiro@example.jp")));

    // The server may have refused the change without a word; only a refetch shows it.
    SERVE_FETCH(run, "じろう", "jiro@example.jp");
    QTRY_VERIFY(dialog.isEnabled());
    QCOMPARE(textOf(&dialog, "lineEditName"), QString("じろう"));
    QCOMPARE(textOf(&dialog, "lineEditMail"), QString("jiro@example.jp"));
    QCOMPARE(run.owner->ownName(), QString("じろう"));
    EXPECT_NOTHING_MORE(run.lobby);
}

void SettingsDialogsTest::fatal_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("message");
    QTest::newRow("password result 3") << "passwordResult3" << QString("プロトコル異常");
    QTest::newRow("own name refused")
        << "nameRefused" << QString("なぜか自分の名前が取得できなかった");
}

void SettingsDialogsTest::fatal()
{
    QFETCH(QString, scenario);
    QFETCH(QString, message);
    const ScenarioResult result = runScenario(scenario);
    VERIFY_FATAL_EXIT(result, message);
}

static int runSettingsScenario(const QString& name)
{
    ownUserId = testUserId;
    SettingsRun run;
    if (!run.open())
        return 90;
    auto answers = answerEveryModalWindow();
    if (name == "nameRefused") {
        UserSettingDialog dialog(nullptr, &run.lobby.socket);
        dialog.show();
        if (!run.lobby.server.expect(ownNameRequest))
            return 91;
        run.lobby.server.send(replyFrame(Wire().u32(1).str("")));
        return keepRunningUntilExit();
    }
    SetPassDialog dialog(nullptr, &run.lobby.socket);
    dialog.show();
    for (const char* field : changeForm("password").fields)
        typeInto(&dialog, field, "secret");
    press(&dialog, QDialogButtonBox::Ok);
    if (!run.lobby.server.expect(frame(Wire().u32(5).str("secret").str("secret"))))
        return 91;
    run.lobby.server.send(replyFrame(Wire().u32(3)));
    return keepRunningUntilExit();
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(SettingsDialogsTest, runSettingsScenario)
#include "tst_settingsdialogs.moc"
