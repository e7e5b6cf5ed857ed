#include "accounts/accountregdialog.h"
#include "accounts/accountregkeydialog.h"
#include "accounts/accountregmaildialog.h"
#include "support/dialogtesting.h"
#include "app/globals.h"
#include "protocol/requestcode.h"
#include "support/childscenario.h"

#include <memory>

namespace
{

// The two registration steps that send a request: a text typed twice, checked, then sent.
struct RequestStep {
    const char* field0;
    const char* field1;
    quint32 code;
    const char* checkTitle;
};

RequestStep requestStep(const QString& step)
{
    if (step == "mail")
        return {"lineEditMail0", "lineEditMail1", RegisterMail, "メールアドレスの確認"};
    return {"lineEditKey0", "lineEditKey1", RegisterKey, "登録キーの確認"};
}

std::unique_ptr<QDialog> makeStep(const QString& step, ProtocolSocket* socket)
{
    if (step == "mail")
        return std::make_unique<AccountRegMailDialog>(nullptr, socket);
    if (step == "key")
        return std::make_unique<AccountRegKeyDialog>(nullptr, socket);
    return std::make_unique<AccountRegDialog>(nullptr);
}

const QString enterMail = "メールアドレスを入力してください。";
const QString wrongMail = "メールアドレスが間違っています。\n入力しなおしてください。";
const QString longMail = "メールアドレスが長すぎます。\n入力しなおしてください。";
const QString enterKey = "登録キーを入力してください。";
const QString wrongKey = "登録キーが間違っています。\n入力しなおしてください。";
const QString longKey = "登録キーが長すぎます。\n入力しなおしてください。";

} // namespace

class AccountRegistrationTest : public QObject
{
    Q_OBJECT

  private slots:
    void requestInput_data();
    void requestInput();
    void reply_data();
    void reply();
    void closingWhileRequestIsOutDoesNothing_data();
    void closingWhileRequestIsOutDoesNothing();
    void giveUpQuestion_data();
    void giveUpQuestion();
    void accountInput_data();
    void accountInput();
    void unlistedResultIsFatal_data();
    void unlistedResultIsFatal();
};

void AccountRegistrationTest::requestInput_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("warning");

    const QString mail = "user@example.jp";
    QTest::newRow("mail empty") << "mail"
                                << ""
                                << "" << enterMail;
    QTest::newRow("mail only confirmed") << "mail"
                                         << "" << mail << enterMail;
    QTest::newRow("mail confirmation differs") << "mail" << mail << "user@example.com" << wrongMail;
    QTest::newRow("mail confirmation differs in case")
        << "mail" << mail << "User@example.jp" << wrongMail;
    QTest::newRow("mail confirmation not trimmed") << "mail" << mail << mail + " " << wrongMail;
    QTest::newRow("mail without full stop") << "mail"
                                            << "user@localhost"
                                            << "user@localhost" << wrongMail;
    QTest::newRow("mail without at sign") << "mail"
                                          << "user.example.jp"
                                          << "user.example.jp" << wrongMail;
    QTest::newRow("mail full stop first") << "mail"
                                          << "first.last@localhost"
                                          << "first.last@localhost"
                                          << "";
    QTest::newRow("mail at sign first") << "mail" << mail << mail << "";
    QTest::newRow("mail 191 bytes")
        << "mail" << textOfBytes(191, "@example.jp") << textOfBytes(191, "@example.jp") << "";
    QTest::newRow("mail 192 bytes")
        << "mail" << textOfBytes(192, "@example.jp") << textOfBytes(192, "@example.jp") << longMail;
    QTest::newRow("mail kana 191 bytes") << "mail" << kana(62) + "@a.jp" << kana(62) + "@a.jp"
                                         << "";
    QTest::newRow("mail kana 192 bytes")
        << "mail" << kana(62) + "@ab.jp" << kana(62) + "@ab.jp" << longMail;
    QTest::newRow("mail 64 kana") << "mail" << kana(64) << kana(64) << wrongMail;
    QTest::newRow("mail too long and wrong")
        << "mail" << textOfBytes(300) << textOfBytes(300) << wrongMail;

    const QString key = "7F3A-91C2";
    QTest::newRow("key empty") << "key"
                               << ""
                               << "" << enterKey;
    QTest::newRow("key only confirmed") << "key"
                                        << "" << key << enterKey;
    QTest::newRow("key confirmation differs") << "key" << key << "7F3A-91C3" << wrongKey;
    QTest::newRow("key confirmation differs in case") << "key" << key << "7f3a-91c2" << wrongKey;
    QTest::newRow("key with spaces sent as typed") << "key"
                                                   << " " + key << " " + key << "";
    QTest::newRow("key 95 bytes") << "key" << textOfBytes(95) << textOfBytes(95) << "";
    QTest::newRow("key 96 bytes") << "key" << textOfBytes(96) << textOfBytes(96) << longKey;
    QTest::newRow("key kana 95 bytes") << "key" << kana(31) + "ab" << kana(31) + "ab"
                                       << "";
    QTest::newRow("key 32 kana") << "key" << kana(32) << kana(32) << longKey;
    QTest::newRow("key too long and differing")
        << "key" << textOfBytes(96) << textOfBytes(97) << wrongKey;
}

void AccountRegistrationTest::requestInput()
{
    QFETCH(QString, step);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, warning);
    const RequestStep fields = requestStep(step);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    auto dialog = makeStep(step, &lobby.socket);
    dialog->show();
    typeInto(dialog.get(), fields.field0, first);
    typeInto(dialog.get(), fields.field1, second);
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    press(dialog.get(), QDialogButtonBox::Ok);

    if (warning.isEmpty()) {
        QCOMPARE(box->handled(), 0);
        EXPECT_CLIENT_BYTES(lobby.server, frame(Wire().u32(fields.code).str(first)));
        QTRY_VERIFY(!dialog->isEnabled());
        QVERIFY(dialog->isVisible());
        return;
    }
    QCOMPARE(box->handled(), 1);
    COMPARE_BOX(seen, QMessageBox::Warning, fields.checkTitle, warning);
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->isEnabled());
    QCOMPARE(textOf(dialog.get(), fields.field0), first);
    QCOMPARE(textOf(dialog.get(), fields.field1), second);
    QVERIFY(!lobby.socket.isCommandOpen());
    EXPECT_NOTHING_MORE(lobby);
}

void AccountRegistrationTest::reply_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<quint32>("result");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("mail registered")
        << "mail" << 0u << QMessageBox::Information << "メール登録"
        << "メールアドレスの登録が完了しました。\n登録したメールアドレスに、アカウント登録用のキー"
           "が送られています。\nお手数ですがメールをご確認ください。"
        << true;
    QTest::newRow("mail already registered")
        << "mail" << 1u << QMessageBox::Warning << "メール登録"
        << "入力したメールアドレスはすでに登録されてます。\nご確認ください。" << false;
    QTest::newRow("mail too long for the server")
        << "mail" << 2u << QMessageBox::Warning << "メール登録"
        << "入力したメールアドレスの文字数が長すぎます。\nご確認ください。" << false;
    QTest::newRow("account created")
        << "key" << 0u << QMessageBox::Information << "アカウント情報"
        << "アカウントの登録が完了しました。\n登録したメールアドレスに、ログイン用の情報が送られて"
           "います。\nお手数ですがメールをご確認ください。"
        << true;
    QTest::newRow("key already used")
        << "key" << 1u << QMessageBox::Warning << "アカウント情報"
        << "入力した登録キーはすでに登録されてます。\nご確認ください。" << false;
}

void AccountRegistrationTest::reply()
{
    QFETCH(QString, step);
    QFETCH(quint32, result);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    const RequestStep fields = requestStep(step);
    const QString typed = "user@example.jp";

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    auto dialog = makeStep(step, &lobby.socket);
    QSignalSpy acceptedSpy(dialog.get(), &QDialog::accepted);
    dialog->show();
    typeInto(dialog.get(), fields.field0, typed);
    typeInto(dialog.get(), fields.field1, typed);
    press(dialog.get(), QDialogButtonBox::Ok);
    EXPECT_CLIENT_BYTES(lobby.server, frame(Wire().u32(fields.code).str(typed)));
    QTRY_VERIFY(!dialog->isEnabled());

    SeenBox seen;
    auto box = answerMessageBox(&seen);
    lobby.server.send(replyFrame(Wire().u32(result)));
    QTRY_COMPARE(box->handled(), 1);
    COMPARE_BOX(seen, icon, title, text);
    QVERIFY(!lobby.socket.isCommandOpen());
    if (accepted) {
        QTRY_COMPARE(acceptedSpy.count(), 1);
        QVERIFY(!dialog->isVisible());
        return;
    }
    QTRY_VERIFY(dialog->isEnabled());
    QVERIFY(dialog->isVisible());
    QCOMPARE(acceptedSpy.count(), 0);
    QCOMPARE(textOf(dialog.get(), fields.field0), typed);
    QCOMPARE(textOf(dialog.get(), fields.field1), typed);
}

void AccountRegistrationTest::closingWhileRequestIsOutDoesNothing_data()
{
    QTest::addColumn<QString>("step");
    QTest::newRow("mail") << "mail";
    QTest::newRow("key") << "key";
}

void AccountRegistrationTest::closingWhileRequestIsOutDoesNothing()
{
    QFETCH(QString, step);
    const RequestStep fields = requestStep(step);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    auto dialog = makeStep(step, &lobby.socket);
    dialog->show();
    typeInto(dialog.get(), fields.field0, "user@example.jp");
    typeInto(dialog.get(), fields.field1, "user@example.jp");
    press(dialog.get(), QDialogButtonBox::Ok);
    QTRY_VERIFY(!dialog->isEnabled());

    {
        SeenBox unexpected;
        auto anyBox = answerMessageBox(&unexpected, QMessageBox::Yes);
        dialog->close();
        QCOMPARE(anyBox->handled(), 0);
        QVERIFY(dialog->isVisible());
    }

    // Once the answer is in, the close button asks again as Cancel does.
    SeenBox seen;
    auto refusal = answerMessageBox(&seen);
    lobby.server.send(replyFrame(Wire().u32(1)));
    QTRY_COMPARE(refusal->handled(), 1);
    QTRY_VERIFY(dialog->isEnabled());
    auto question = answerMessageBox(&seen, QMessageBox::Yes);
    dialog->close();
    QCOMPARE(question->handled(), 1);
    QCOMPARE(seen.title, QString("アカウント情報"));
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
}

void AccountRegistrationTest::giveUpQuestion_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("closeButton");
    QTest::addColumn<QMessageBox::StandardButton>("answer");

    for (const char* step : {"mail", "key", "account"}) {
        for (bool closeButton : {false, true}) {
            for (auto answer : {QMessageBox::Yes, QMessageBox::No}) {
                QTest::addRow("%s, %s, %s", step, closeButton ? "close button" : "Cancel",
                              answer == QMessageBox::Yes ? "Yes" : "No")
                    << step << closeButton << answer;
            }
        }
    }
}

void AccountRegistrationTest::giveUpQuestion()
{
    QFETCH(QString, step);
    QFETCH(bool, closeButton);
    QFETCH(QMessageBox::StandardButton, answer);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    auto dialog = makeStep(step, &lobby.socket);
    QSignalSpy rejected(dialog.get(), &QDialog::rejected);
    dialog->show();
    SeenBox seen;
    auto question = answerMessageBox(&seen, answer);
    if (closeButton)
        dialog->close();
    else
        press(dialog.get(), QDialogButtonBox::Cancel);

    QCOMPARE(question->handled(), 1);
    COMPARE_BOX(
        seen, QMessageBox::Question, "アカウント情報",
        "tileParlorを利用するにはアカウント情報が必要です。\nアカウント情報の設定をやめますか？");
    QCOMPARE(rejected.count(), answer == QMessageBox::Yes ? 1 : 0);
    QCOMPARE(dialog->isVisible(), answer == QMessageBox::No);
    // Only the account choice itself gives up for good with Quit.
    EXPECT_NOTHING_MORE(lobby);
}

void AccountRegistrationTest::accountInput_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("warning");

    const QString enterAccount = "アカウントを入力してください。";
    const QString longAccount = "アカウントが長すぎます。\n入力しなおしてください。";
    const QString enterPassword = "パスワードを入力してください。";
    const QString longPassword = "パスワードが長すぎます。\n入力しなおしてください。";
    QTest::newRow("both empty") << ""
                                << "" << enterAccount;
    QTest::newRow("account empty") << ""
                                   << "secret" << enterAccount;
    QTest::newRow("password empty") << "player1"
                                    << "" << enterPassword;
    QTest::newRow("account 71 bytes") << textOfBytes(71) << "secret"
                                      << "";
    QTest::newRow("account 72 bytes") << textOfBytes(72) << "secret" << longAccount;
    QTest::newRow("account 24 kana") << kana(24) << "secret" << longAccount;
    QTest::newRow("account too long, password empty") << textOfBytes(72) << "" << longAccount;
    QTest::newRow("password 71 bytes") << "player1" << textOfBytes(71) << "";
    QTest::newRow("password 72 bytes") << "player1" << textOfBytes(72) << longPassword;
    QTest::newRow("password kana 71 bytes") << "player1" << kana(23) + "ab"
                                            << "";
    QTest::newRow("kept as typed") << " player 1 "
                                   << " pass word "
                                   << "";
}

void AccountRegistrationTest::accountInput()
{
    QFETCH(QString, account);
    QFETCH(QString, password);
    QFETCH(QString, warning);

    TestEnvironment env;
    AccountRegDialog dialog(nullptr);
    dialog.show();
    typeInto(&dialog, "lineEditAccount", account);
    typeInto(&dialog, "lineEditPassword", password);
    // What a process ending right after the dialog reported success would leave behind.
    QVariantList storedWhenAccepted;
    connect(&dialog, &QDialog::accepted, this, [&] {
        storedWhenAccepted = {valueOnDisk(env, "account/id"), valueOnDisk(env, "account/password")};
    });
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    press(&dialog, QDialogButtonBox::Ok);

    if (warning.isEmpty()) {
        QCOMPARE(box->handled(), 0);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(storedWhenAccepted, QVariantList({account, password}));
        return;
    }
    QCOMPARE(box->handled(), 1);
    COMPARE_BOX(seen, QMessageBox::Warning, "アカウント情報", warning);
    QVERIFY(dialog.isVisible());
    QCOMPARE(textOf(&dialog, "lineEditAccount"), account);
    QCOMPARE(textOf(&dialog, "lineEditPassword"), password);
    QVERIFY(!userSettings->contains("account/id"));
    QVERIFY(!userSettings->contains("account/password"));
}

void AccountRegistrationTest::unlistedResultIsFatal_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::newRow("mail result 3") << "mailResult3";
    QTest::newRow("key result 2") << "keyResult2";
}

void AccountRegistrationTest::unlistedResultIsFatal()
{
    QFETCH(QString, scenario);
    const ScenarioResult result = runScenario(scenario);
    VERIFY_FATAL_EXIT(result, "プロトコル異常");
    QVERIFY2(result.stdErr.contains("[box] critical error | プロトコル異常"),
             qPrintable(result.stdErr));
}

static int runRegistrationScenario(const QString& name)
{
    ConnectedLobby lobby;
    if (!lobby.open())
        return 90;
    auto answers = answerEveryModalWindow();
    const bool mail = name == "mailResult3";
    const RequestStep fields = requestStep(mail ? "mail" : "key");
    auto dialog = makeStep(mail ? "mail" : "key", &lobby.socket);
    dialog->show();
    typeInto(dialog.get(), fields.field0, "user@example.jp");
    typeInto(dialog.get(), fields.field1, "user@example.jp");
    press(dialog.get(), QDialogButtonBox::Ok);
    if (!lobby.server.expect(frame(Wire().u32(fields.code).str("user@example.jp"))))
        return 91;
    lobby.server.send(replyFrame(Wire().u32(mail ? 3 : 2)));
    return keepRunningUntilExit();
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(AccountRegistrationTest, runRegistrationScenario)
#include "tst_accountregistration.moc"
