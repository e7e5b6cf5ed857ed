#include "support/dialogtesting.h"
#include "app/globals.h"
#include "protocol/requestcode.h"
#include "settings/setmaildialog.h"
#include "settings/setnamedialog.h"
#include "settings/setpassdialog.h"
#include "support/childscenario.h"

#include <QLabel>

#include <memory>

namespace
{

std::unique_ptr<QDialog> makeChange(const QString& kind, ProtocolSocket* socket)
{
    if (kind == "name")
        return std::make_unique<SetNameDialog>(nullptr, socket);
    if (kind == "mail")
        return std::make_unique<SetMailDialog>(nullptr, socket);
    return std::make_unique<SetPassDialog>(nullptr, socket);
}

QByteArray setPasswordRequest(const QString& current, const QString& next)
{
    return frame(Wire().u32(SetPassword).str(current).str(next));
}

// A password dialog with a request out, the old password stored.
struct PasswordRun {
    ConnectedLobby lobby;
    SetPassDialog dialog{nullptr, &lobby.socket};

    bool send()
    {
        userSettings->setValue("account/password", "old secret");
        userSettings->sync();
        dialog.show();
        typeInto(&dialog, "lineEditCurrent", "old secret");
        typeInto(&dialog, "lineEditNew0", "new secret");
        typeInto(&dialog, "lineEditNew1", "new secret");
        press(&dialog, QDialogButtonBox::Ok);
        return lobby.server.expect(setPasswordRequest("old secret", "new secret"));
    }
};

// The stored password as the disk holds it when a message box first shows, before its event
// loop gives QSettings the chance to write pending values on its own.
class PasswordOnDiskAtBox : public QObject
{
  public:
    explicit PasswordOnDiskAtBox(const TestEnvironment& env) : env(env)
    {
        qApp->installEventFilter(this);
    }
    QString password;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QMessageBox*>(watched) &&
            password.isNull())
            password = valueOnDisk(env, "account/password").toString();
        return false;
    }

  private:
    const TestEnvironment& env;
};

const QString tooLongPassword = "パスワード名が長すぎます。\n入力しなおしてください。";
const QString enterPassword = "パスワードを入力してください。";
const QString mistyped = "新しいパスワードの入力ミスです。\n入力しなおしてください。";

} // namespace

class SettingsChangeDialogsTest : public QObject
{
    Q_OBJECT

  private slots:
    void oneLineInput_data();
    void oneLineInput();
    void passwordInput_data();
    void passwordInput();
    void passwordReply_data();
    void passwordReply();
    void closingWhilePasswordRequestIsOutDoesNothing();
    void closeButtonCancels_data();
    void closeButtonCancels();
    void unlistedPasswordResultIsFatal();
};

void SettingsChangeDialogsTest::oneLineInput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("warning");

    const QString enterName = "ハンドル名を入力してください。";
    const QString longName = "ハンドル名が長すぎます。\n入力しなおしてください。";
    QTest::newRow("name empty") << "name"
                                << "" << enterName;
    QTest::newRow("name 119 bytes") << "name" << textOfBytes(119) << "";
    QTest::newRow("name 120 bytes") << "name" << textOfBytes(120) << longName;
    QTest::newRow("name 39 kana") << "name" << kana(39) << "";
    QTest::newRow("name 40 kana") << "name" << kana(40) << longName;
    QTest::newRow("name kept as typed") << "name"
                                        << " たろう "
                                        << "";

    const QString enterMail = "メールアドレスを入力してください。";
    const QString longMail = "メールアドレスが長すぎます。\n入力しなおしてください。";
    const QString wrongMail = "メールアドレスが間違っています。\n入力しなおしてください。";
    QTest::newRow("mail empty") << "mail"
                                << "" << enterMail;
    QTest::newRow("mail 215 bytes") << "mail" << textOfBytes(215, "@example.jp") << "";
    QTest::newRow("mail 216 bytes") << "mail" << textOfBytes(216, "@example.jp") << longMail;
    QTest::newRow("mail too long and wrong") << "mail" << textOfBytes(216) << longMail;
    QTest::newRow("mail without full stop") << "mail"
                                            << "user@localhost" << wrongMail;
    QTest::newRow("mail without at sign") << "mail"
                                          << "user.example.jp" << wrongMail;
    QTest::newRow("mail at sign first") << "mail"
                                        << "user@example.jp"
                                        << "";
    QTest::newRow("mail full stop first") << "mail"
                                          << "first.last@localhost"
                                          << "";
}

void SettingsChangeDialogsTest::oneLineInput()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QString, warning);
    const bool name = kind == "name";

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    auto dialog = makeChange(kind, &lobby.socket);
    QSignalSpy accepted(dialog.get(), &QDialog::accepted);
    dialog->show();
    QCOMPARE(dialog->windowTitle(), QString(name ? "ハンドル名の変更" : "メールアドレスの変更"));
    QCOMPARE(child<QLabel>(dialog.get(), "label")->text(),
             QString(name ? "あなたのハンドル名を入力してください。"
                          : "あなたのメールアドレスを入力してください。"));
    typeInto(dialog.get(), "lineEdit", text);
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    press(dialog.get(), QDialogButtonBox::Ok);

    if (warning.isEmpty()) {
        QCOMPARE(box->handled(), 0);
        EXPECT_CLIENT_BYTES(lobby.server, frame(Wire().u32(name ? SetName : SetMail).str(text)));
        QCOMPARE(accepted.count(), 1);
        QVERIFY(!lobby.socket.isCommandOpen());
    } else {
        QCOMPARE(box->handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Warning, name ? "ハンドル名の設定" : "メールアドレスの設定",
                    warning);
        QVERIFY(dialog->isVisible());
        QCOMPARE(textOf(dialog.get(), "lineEdit"), text);
    }
    EXPECT_NOTHING_MORE(lobby);
}

void SettingsChangeDialogsTest::passwordInput_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("new0");
    QTest::addColumn<QString>("new1");
    QTest::addColumn<QString>("warning");

    QTest::newRow("current empty") << ""
                                   << "new"
                                   << "new" << enterPassword;
    QTest::newRow("new empty") << "old"
                               << ""
                               << "new" << enterPassword;
    QTest::newRow("confirmation empty") << "old"
                                        << "new"
                                        << "" << enterPassword;
    QTest::newRow("current 72 bytes") << textOfBytes(72) << "new"
                                      << "new" << tooLongPassword;
    QTest::newRow("new 72 bytes") << "old" << textOfBytes(72) << textOfBytes(72) << tooLongPassword;
    QTest::newRow("new 24 kana") << "old" << kana(24) << kana(24) << tooLongPassword;
    QTest::newRow("both 71 bytes") << textOfBytes(71) << textOfBytes(71) << textOfBytes(71) << "";
    QTest::newRow("new differs in case") << "old"
                                         << "Secret"
                                         << "secret" << mistyped;
    QTest::newRow("only the confirmation too long")
        << "old" << textOfBytes(71) << textOfBytes(72) << mistyped;
    QTest::newRow("too long and differing") << "old" << textOfBytes(72) << "new" << tooLongPassword;
}

void SettingsChangeDialogsTest::passwordInput()
{
    QFETCH(QString, current);
    QFETCH(QString, new0);
    QFETCH(QString, new1);
    QFETCH(QString, warning);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    SetPassDialog dialog(nullptr, &lobby.socket);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("パスワードの変更"));
    for (const char* field : {"lineEditCurrent", "lineEditNew0", "lineEditNew1"})
        QCOMPARE(child<QLineEdit>(&dialog, field)->echoMode(), QLineEdit::Password);
    typeInto(&dialog, "lineEditCurrent", current);
    typeInto(&dialog, "lineEditNew0", new0);
    typeInto(&dialog, "lineEditNew1", new1);
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    press(&dialog, QDialogButtonBox::Ok);

    if (warning.isEmpty()) {
        QCOMPARE(box->handled(), 0);
        EXPECT_CLIENT_BYTES(lobby.server, setPasswordRequest(current, new0));
        QTRY_VERIFY(!dialog.isEnabled());
        QVERIFY(dialog.isVisible());
        return;
    }
    QCOMPARE(box->handled(), 1);
    COMPARE_BOX(seen, QMessageBox::Warning, "パスワードの設定", warning);
    QVERIFY(dialog.isVisible());
    QCOMPARE(textOf(&dialog, "lineEditCurrent"), current);
    QCOMPARE(textOf(&dialog, "lineEditNew0"), new0);
    QCOMPARE(textOf(&dialog, "lineEditNew1"), new1);
    EXPECT_NOTHING_MORE(lobby);
}

void SettingsChangeDialogsTest::passwordReply_data()
{
    QTest::addColumn<quint32>("result");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QString>("text");

    QTest::newRow("changed") << 0u << QMessageBox::Information
                             << "パスワードの変更が完了しました。";
    QTest::newRow("current wrong")
        << 1u << QMessageBox::Warning << "現在のパスワードが一致しません。\nご確認ください。";
    QTest::newRow("new too long")
        << 2u << QMessageBox::Warning
        << "入力した新しいパスワードの文字数が長すぎます。\n入力しなおしてください。";
}

void SettingsChangeDialogsTest::passwordReply()
{
    QFETCH(quint32, result);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QString, text);
    const bool changed = result == 0;

    PasswordRun run;
    OPEN_LOBBY(run.lobby);
    QSignalSpy accepted(&run.dialog, &QDialog::accepted);
    PasswordOnDiskAtBox storedWhenReported(run.lobby.env);
    SeenBox seen;
    auto reported = answerMessageBox(&seen);
    QVERIFY2(run.send(), qPrintable(run.lobby.server.failure()));
    QTRY_VERIFY(!run.dialog.isEnabled());
    run.lobby.server.send(replyFrame(Wire().u32(result)));

    QTRY_COMPARE(reported->handled(), 1);
    COMPARE_BOX(seen, icon, "パスワードの設定", text);
    QVERIFY(!run.lobby.socket.isCommandOpen());
    QTRY_COMPARE(accepted.count(), changed ? 1 : 0);
    QCOMPARE(run.dialog.isVisible(), !changed);
    QTRY_VERIFY(run.dialog.isEnabled());
    QCOMPARE(storedWhenReported.password, QString(changed ? "new secret" : "old secret"));
    QCOMPARE(userSettings->value("account/password").toString(),
             QString(changed ? "new secret" : "old secret"));
}

void SettingsChangeDialogsTest::closingWhilePasswordRequestIsOutDoesNothing()
{
    PasswordRun run;
    OPEN_LOBBY(run.lobby);
    QSignalSpy rejected(&run.dialog, &QDialog::rejected);
    QVERIFY2(run.send(), qPrintable(run.lobby.server.failure()));
    QTRY_VERIFY(!run.dialog.isEnabled());

    run.dialog.close();
    QVERIFY(run.dialog.isVisible());
    QCOMPARE(rejected.count(), 0);

    SeenBox seen;
    auto refusal = answerMessageBox(&seen);
    run.lobby.server.send(replyFrame(Wire().u32(1)));
    QTRY_COMPARE(refusal->handled(), 1);
    QTRY_VERIFY(run.dialog.isEnabled());
    run.dialog.close();
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!run.dialog.isVisible());
}

void SettingsChangeDialogsTest::closeButtonCancels_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("name") << "name";
    QTest::newRow("mail") << "mail";
    QTest::newRow("password") << "password";
}

void SettingsChangeDialogsTest::closeButtonCancels()
{
    QFETCH(QString, kind);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    auto dialog = makeChange(kind, &lobby.socket);
    QSignalSpy rejected(dialog.get(), &QDialog::rejected);
    dialog->show();
    dialog->close();
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!dialog->isVisible());
    EXPECT_NOTHING_MORE(lobby);
}

void SettingsChangeDialogsTest::unlistedPasswordResultIsFatal()
{
    const ScenarioResult result = runScenario("passwordResult3");
    VERIFY_FATAL_EXIT(result, "プロトコル異常");
    QVERIFY2(!result.stdErr.contains("[box] パスワードの設定"), qPrintable(result.stdErr));
}

static int runPasswordScenario(const QString&)
{
    PasswordRun run;
    if (!run.lobby.open())
        return 90;
    auto answers = answerEveryModalWindow();
    if (!run.send())
        return 91;
    run.lobby.server.send(replyFrame(Wire().u32(3)));
    return keepRunningUntilExit();
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(SettingsChangeDialogsTest, runPasswordScenario)
#include "tst_settingschangedialogs.moc"
