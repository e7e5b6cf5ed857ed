#include "accounts/accountregdialog.h"
#include "accounts/accountregkeydialog.h"
#include "accounts/accountregmaildialog.h"
#include "accounts/accountselectdialog.h"
#include "support/dialogtesting.h"
#include "app/globals.h"
#include "support/childscenario.h"

#include <QRadioButton>

#include <memory>

namespace
{

// The two fields each step asks for, what OK sends (the account step sends nothing) and the
// title of its input warnings.
struct Step {
    const char* field0;
    const char* field1;
    quint32 code;
    const char* checkTitle;
};

Step stepForm(const QString& step)
{
    if (step == "mail")
        return {"lineEditMail0", "lineEditMail1", 2, "メールアドレスの確認"};
    if (step == "key")
        return {"lineEditKey0", "lineEditKey1", 3, "登録キーの確認"};
    return {"lineEditAccount", "lineEditPassword", 0, "アカウント情報"};
}

std::unique_ptr<QDialog> makeDialog(const QString& kind, ProtocolSocket* socket)
{
    if (kind == "select")
        return std::make_unique<AccountSelectDialog>(nullptr, socket);
    if (kind == "mail")
        return std::make_unique<AccountRegMailDialog>(nullptr, socket);
    if (kind == "key")
        return std::make_unique<AccountRegKeyDialog>(nullptr, socket);
    return std::make_unique<AccountRegDialog>(nullptr);
}

void submit(QDialog* dialog, const QString& step, const QString& first, const QString& second)
{
    typeInto(dialog, stepForm(step).field0, first);
    typeInto(dialog, stepForm(step).field1, second);
    press(dialog, QDialogButtonBox::Ok);
}

} // namespace

class AccountRegistrationTest : public QObject
{
    Q_OBJECT

  private slots:
    void step_data();
    void step();
    void giveUp_data();
    void giveUp();
    void choiceRunsItsStep_data();
    void choiceRunsItsStep();
    void unlistedKeyResultIsFatal();
};

void AccountRegistrationTest::step_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, const char* step, const QString& first,
                        const QString& second, int result, const QString& text) {
        QTest::newRow(name) << QString(step) << first << second << result << text;
    };
    // Refused before anything is sent: the text is the warning.
    const int refused = -1;

    const QString mail = "user@example.jp";
    const QString wrongMail = "メールアドレスが間違っています。\n入力しなおしてください。";
    row("mail missing", "mail", "", mail, refused, "メールアドレスを入力してください。");
    row("mail confirmation differs in case", "mail", mail, "User@example.jp", refused, wrongMail);
    row("mail without full stop", "mail", "user@localhost", "user@localhost", refused, wrongMail);
    row("mail without at sign", "mail", "user.example.jp", "user.example.jp", refused, wrongMail);
    row("mail too long and wrong", "mail", kana(70), kana(70), refused, wrongMail);
    row("mail 192 bytes", "mail", kana(62) + "@ab.jp", kana(62) + "@ab.jp", refused,
        "メールアドレスが長すぎます。\n入力しなおしてください。");
    row("mail 191 bytes, registered", "mail", kana(62) + "@a.jp", kana(62) + "@a.jp", 0,
        "メールアドレスの登録が完了しました。\n登録したメールアドレスに、アカウント登録用のキーが"
        "送られています。\nお手数ですがメールをご確認ください。");
    row("mail full stop first, in use", "mail", "first.last@localhost", "first.last@localhost", 1,
        "入力したメールアドレスはすでに登録されてます。\nご確認ください。");
    row("mail too long for the server", "mail", mail, mail, 2,
        "入力したメールアドレスの文字数が長すぎます。\nご確認ください。");

    const QString key = " " + kana(31) + " ";
    row("key missing", "key", "", key, refused, "登録キーを入力してください。");
    row("key confirmation differs in case", "key", "7F3A-91C2", "7f3a-91c2", refused,
        "登録キーが間違っています。\n入力しなおしてください。");
    row("key 96 bytes", "key", kana(32), kana(32), refused,
        "登録キーが長すぎます。\n入力しなおしてください。");
    row("key 95 bytes untrimmed, account created", "key", key, key, 0,
        "アカウントの登録が完了しました。\n登録したメールアドレスに、ログイン用の情報が送られて"
        "います。\nお手数ですがメールをご確認ください。");
    row("key already used", "key", "7F3A-91C2", "7F3A-91C2", 1,
        "入力した登録キーはすでに登録されてます。\nご確認ください。");

    // The account step asks the server nothing; an empty text means it stored the account.
    row("account missing", "account", "", "secret", refused, "アカウントを入力してください。");
    row("password missing", "account", "player1", "", refused, "パスワードを入力してください。");
    row("account 72 bytes", "account", kana(24), "secret", refused,
        "アカウントが長すぎます。\n入力しなおしてください。");
    row("password 72 bytes", "account", "player1", kana(24), refused,
        "パスワードが長すぎます。\n入力しなおしてください。");
    row("71 bytes each, stored untrimmed", "account", " " + kana(23) + " ", kana(23) + "ab", 0, "");
}

void AccountRegistrationTest::step()
{
    QFETCH(QString, step);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, result);
    QFETCH(QString, text);
    const Step form = stepForm(step);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    auto dialog = makeDialog(step, &lobby.socket);
    QSignalSpy accepted(dialog.get(), &QDialog::accepted);
    dialog->show();
    // What a process ending right after the dialog reported success would leave behind.
    QVariantList storedWhenAccepted;
    connect(dialog.get(), &QDialog::accepted, this, [&] {
        storedWhenAccepted = {valueOnDisk(lobby.env, "account/id"),
                              valueOnDisk(lobby.env, "account/password")};
    });
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    submit(dialog.get(), step, first, second);

    if (result < 0) {
        QCOMPARE(box->handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Warning, form.checkTitle, text);
        QVERIFY(dialog->isVisible());
        QCOMPARE(textOf(dialog.get(), form.field0), first);
        QCOMPARE(textOf(dialog.get(), form.field1), second);
        QVERIFY(!userSettings->contains("account/id"));
        EXPECT_NOTHING_MORE(lobby);
        return;
    }
    if (step == "account") {
        QCOMPARE(box->handled(), 0);
        QCOMPARE(storedWhenAccepted, QVariantList({first, second}));
        return;
    }
    EXPECT_CLIENT_BYTES(lobby.server, frame(Wire().u32(form.code).str(first)));
    QTRY_VERIFY(!dialog->isEnabled());
    QCOMPARE(box->handled(), 0);
    // Leaving now would strand the reply: not even the give-up question may come.
    auto question = answerMessageBox(&seen, QMessageBox::Yes);
    dialog->close();
    QVERIFY(dialog->isVisible());

    lobby.server.send(replyFrame(Wire().u32(result)));
    QTRY_COMPARE(box->handled(), 1);
    COMPARE_BOX(seen, result == 0 ? QMessageBox::Information : QMessageBox::Warning,
                step == "mail" ? "メール登録" : "アカウント情報", text);
    QTRY_VERIFY(dialog->isEnabled());
    QCOMPARE(accepted.count(), result == 0 ? 1 : 0);
    QCOMPARE(dialog->isVisible(), result != 0);
    QCOMPARE(textOf(dialog.get(), form.field0), first);
}

void AccountRegistrationTest::giveUp_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("leaveBy");
    QTest::addColumn<bool>("yes");
    // Every way out on every dialog, each answered both ways somewhere.
    const char* ways[] = {"Cancel", "close button", "Escape"};
    int row = 0;
    for (const char* kind : {"select", "mail", "key", "account"}) {
        for (bool yes : {false, true}) {
            const char* leaveBy = ways[row++ % 3];
            QTest::addRow("%s, %s, %s", kind, leaveBy, yes ? "Yes" : "No")
                << QString(kind) << QString(leaveBy) << yes;
        }
    }
}

void AccountRegistrationTest::giveUp()
{
    QFETCH(QString, kind);
    QFETCH(QString, leaveBy);
    QFETCH(bool, yes);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    auto dialog = makeDialog(kind, &lobby.socket);
    QSignalSpy rejected(dialog.get(), &QDialog::rejected);
    dialog->show();
    SeenBox seen;
    auto question = answerMessageBox(&seen, yes ? QMessageBox::Yes : QMessageBox::No);
    if (leaveBy == "close button")
        dialog->close();
    else if (leaveBy == "Escape")
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
    else
        press(dialog.get(), QDialogButtonBox::Cancel);

    QCOMPARE(question->handled(), 1);
    COMPARE_BOX(
        seen, QMessageBox::Question, "アカウント情報",
        "tileParlorを利用するにはアカウント情報が必要です。\nアカウント情報の設定をやめますか？");
    QCOMPARE(rejected.count(), yes ? 1 : 0);
    QCOMPARE(dialog->isVisible(), !yes);
    // Only the choice itself gives up for good; the steps lead back to it.
    if (yes && kind == "select")
        EXPECT_CLIENT_BYTES(lobby.server, QByteArray::fromHex("0400000000000000"));
    EXPECT_NOTHING_MORE(lobby);
}

void AccountRegistrationTest::choiceRunsItsStep_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("stepAccepted");
    const auto row = [](const char* name, const char* choice, const char* step, bool accepted) {
        QTest::newRow(name) << QString(choice) << QString(step) << accepted;
    };
    row("first choice, mail registered", "rdoFirst", "AccountRegMailDialog", true);
    row("key registered", "rdoKey", "AccountRegKeyDialog", true);
    row("account stored", "rdoExist", "AccountRegDialog", true);
    row("account given up", "rdoExist", "AccountRegDialog", false);
}

void AccountRegistrationTest::choiceRunsItsStep()
{
    QFETCH(QString, choice);
    QFETCH(QString, step);
    QFETCH(bool, stepAccepted);
    const bool choiceEnds = stepAccepted && step == "AccountRegDialog";

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    AccountSelectDialog dialog(nullptr, &lobby.socket);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.show();
    // The first choice is taken as it comes.
    if (choice != "rdoFirst")
        child<QRadioButton>(&dialog, qPrintable(choice))->setChecked(true);

    QString ran;
    auto stepWatcher = answerDialog<QDialog>([&](QDialog* stepDialog) {
        ran = stepDialog->metaObject()->className();
        stepDialog->done(stepAccepted ? QDialog::Accepted : QDialog::Rejected);
    });
    press(&dialog, QDialogButtonBox::Ok);

    QCOMPARE(stepWatcher->handled(), 1);
    QCOMPARE(ran, step);
    QCOMPARE(accepted.count(), choiceEnds ? 1 : 0);
    QCOMPARE(dialog.isVisible(), !choiceEnds);
    EXPECT_NOTHING_MORE(lobby);
}

void AccountRegistrationTest::unlistedKeyResultIsFatal()
{
    // 2 is a refusal the mail step knows, not the key step.
    const ScenarioResult result = runScenario("keyResult2");
    VERIFY_FATAL_EXIT(result, "プロトコル異常");
}

static int runKeyScenario(const QString&)
{
    ConnectedLobby lobby;
    if (!lobby.open())
        return 90;
    auto answers = answerEveryModalWindow();
    AccountRegKeyDialog dialog(nullptr, &lobby.socket);
    dialog.show();
    submit(&dialog, "key", "7F3A-91C2", "7F3A-91C2");
    if (!lobby.server.expect(frame(Wire().u32(3).str("7F3A-91C2"))))
        return 91;
    lobby.server.send(replyFrame(Wire().u32(2)));
    return keepRunningUntilExit();
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(AccountRegistrationTest, runKeyScenario)
#include "tst_accountregistration.moc"
