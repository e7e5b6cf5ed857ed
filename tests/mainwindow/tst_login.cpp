#include "accounts/accountselectdialog.h"
#include "app/globals.h"
#include "mainwindow/admindialog.h"
#include "mainwindow/mainwindow.h"
#include "lobbywire.h"
#include "settings/setnamedialog.h"
#include "settings/usersettingdialog.h"
#include "support/childscenario.h"
#include "support/fakelobbyserver.h"
#include "support/modalanswer.h"
#include "support/testenvironment.h"
#include "support/wire.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QtTest>

#include <memory>

namespace
{

QByteArray authenticateRequest(const QString& account, const QString& password)
{
    return frame(Wire().u32(Authenticate).str(account).str(password));
}

QByteArray authenticateReply(quint32 result, quint32 userId, const QString& message)
{
    return replyFrame(Wire().u32(result).u32(userId).u32(12).str(message));
}

QByteArray getNameRequest(quint32 userId)
{
    return frame(Wire().u32(GetName).u32(userId));
}

QByteArray nameReply(quint32 result, const QString& name)
{
    return replyFrame(Wire().u32(result).str(name));
}

// A main window started against a fake lobby, with an account stored.
struct Run {
    TestEnvironment env;
    FakeLobbyServer server;
    std::unique_ptr<MainWindow> window;

    explicit Run(const QString& password = "pass word")
    {
        userSettings->setValue("account/id", "player1");
        userSettings->setValue("account/password", password);
        server.exportAddress();
        window = std::make_unique<MainWindow>();
        mainWindow = window.get();
        window->show();
    }
    ~Run() { mainWindow = nullptr; }

    bool helloPassed()
    {
        if (!server.expect(clientHello()))
            return false;
        server.send(serverHello(0));
        return true;
    }

    // Hello, Authenticate and GetName up to the enabled window.
    bool loggedIn()
    {
        if (!helloPassed() || !server.expect(authenticateRequest("player1", "pass word")))
            return false;
        server.send(authenticateReply(0, 77, "本日のお知らせ"));
        if (!server.expect(getNameRequest(77)))
            return false;
        server.send(nameReply(0, "たろう"));
        return QTest::qWaitFor([this] { return window->isEnabled(); }, 5000);
    }
};

// Stands in for the account dialog's own work: the first `refusals` runs give up without storing
// anything, the next one stores an account and is accepted.
std::unique_ptr<ModalWatcher> answerAccountDialogs(int refusals, const QString& account,
                                                   const QString& password)
{
    auto runs = std::make_shared<int>(0);
    return std::make_unique<ModalWatcher>(
        [=](QWidget* modal) {
            auto* dialog = qobject_cast<AccountSelectDialog*>(modal);
            if (!dialog)
                return false;
            if ((*runs)++ < refusals) {
                dialog->reject();
                return true;
            }
            userSettings->setValue("account/id", account);
            userSettings->setValue("account/password", password);
            dialog->accept();
            return true;
        },
        true);
}

} // namespace

class LoginTest : public QObject
{
    Q_OBJECT

  private slots:
    void formMatchesDesign();
    void loginWithStoredAccount();
    void refusedLoginAsksForAccountAndTriesAgain();
    void missingPasswordAsksForAccountUntilStored();
    void missingHandleNameIsAskedFor();
    void administratorToolOnlyForExactlyTrue_data();
    void administratorToolOnlyForExactlyTrue();
    void settingsMenuOpensUserSettings();
    void closingDuringLoginDoesNothing();
    void closingWhenRunningSendsQuitOnce();
    void connectionEnd_data();
    void connectionEnd();
};

void LoginTest::formMatchesDesign()
{
    Run run;
    MainWindow& w = *run.window;
    QVERIFY(!w.isEnabled());
    QCOMPARE(w.findChild<QTabWidget*>("tabWidget")->count(), 0);
    QVERIFY(w.findChild<QLineEdit*>("lineSysMessage")->isReadOnly());
    QVERIFY(w.findChild<QPushButton*>("buttonWaitBattle")->isHidden());
    QVERIFY(w.findChild<QPushButton*>("buttonOfferBattle")->isHidden());
    QCOMPARE(w.findChild<QMenu*>("menu_F")->actions().size(), 3);
    QCOMPARE(QPixmap(":/images/back0.png").size(), QSize(1024, 1024));
    QCOMPARE(QPixmap(":/images/guide0.png").size(), QSize(144, 240));

    w.appendAllRoomsLog(12, "こんにちは");
    QCOMPARE(w.findChild<QPlainTextEdit*>("textLog")->toPlainText(), QString("(12) こんにちは"));
    // No sound device here: the bell must neither fail nor block.
    w.playBell();
}

void LoginTest::loginWithStoredAccount()
{
    Run run;
    QVERIFY(run.helloPassed());
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player1", "pass word"));
    QVERIFY(!run.window->isEnabled());
    run.server.send(authenticateReply(0, 77, "本日のお知らせ"));
    EXPECT_CLIENT_BYTES(run.server, getNameRequest(77));
    QCOMPARE(ownUserId, 77u);
    run.server.send(nameReply(0, "たろう"));
    QTRY_VERIFY(run.window->isEnabled());
    QCOMPARE(run.window->findChild<QLineEdit*>("lineSysMessage")->text(),
             QString("本日のお知らせ"));
    QCOMPARE(run.window->ownName(), QString("たろう"));
}

void LoginTest::refusedLoginAsksForAccountAndTriesAgain()
{
    Run run;
    QVERIFY(run.helloPassed());
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player1", "pass word"));
    SeenBox seen;
    auto warning = answerMessageBox(&seen);
    auto account = answerAccountDialogs(0, "player2", "new pass");
    run.server.send(authenticateReply(3, 0, ""));
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player2", "new pass"));
    QCOMPARE(warning->handled(), 1);
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QCOMPARE(seen.title, QString("アカウント情報"));
    QCOMPARE(seen.text,
             QString("ログインに失敗しました。\nアカウント名、パスワードを確認してください。"));
    QCOMPARE(account->handled(), 1);
}

void LoginTest::missingPasswordAsksForAccountUntilStored()
{
    Run run("");
    auto account = answerAccountDialogs(2, "player3", "secret");
    QVERIFY(run.helloPassed());
    // Nothing is sent with the incomplete account: the first request carries the stored one.
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player3", "secret"));
    QCOMPARE(account->handled(), 3);
}

void LoginTest::missingHandleNameIsAskedFor()
{
    Run run;
    auto naming = answerDialog<SetNameDialog>([](SetNameDialog* dialog) {
        dialog->findChild<QLineEdit*>("lineEdit")->setText("じろう");
        dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    QVERIFY(run.helloPassed());
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player1", "pass word"));
    run.server.send(authenticateReply(0, 9, ""));
    EXPECT_CLIENT_BYTES(run.server, getNameRequest(9));
    run.server.send(nameReply(0, ""));
    EXPECT_CLIENT_BYTES(run.server, frame(Wire().u32(SetName).str("じろう")) + getNameRequest(9));
    QVERIFY(!run.window->isEnabled());
    run.server.send(nameReply(0, "じろう"));
    QTRY_VERIFY(run.window->isEnabled());
    QCOMPARE(run.window->ownName(), QString("じろう"));
    QCOMPARE(naming->handled(), 1);
}

void LoginTest::administratorToolOnlyForExactlyTrue_data()
{
    QTest::addColumn<QString>("admin");
    QTest::addColumn<bool>("shown");
    QTest::newRow("true") << "true" << true;
    QTest::newRow("True") << "True" << false;
    QTest::newRow("1") << "1" << false;
    QTest::newRow("absent") << QString() << false;
}

void LoginTest::administratorToolOnlyForExactlyTrue()
{
    QFETCH(QString, admin);
    QFETCH(bool, shown);
    Run run;
    if (!admin.isNull())
        userSettings->setValue("admin", admin);
    QVERIFY(run.loggedIn());
    const auto tools = run.window->findChildren<AdminDialog*>();
    QCOMPARE(tools.size(), shown ? 1 : 0);
    if (shown)
        QVERIFY(tools[0]->isVisible());
}

void LoginTest::settingsMenuOpensUserSettings()
{
    Run run;
    QVERIFY(run.loggedIn());
    QString shownMail;
    auto settings = answerDialog<UserSettingDialog>([&](UserSettingDialog* dialog) {
        if (!run.server.expect(getNameRequest(77)))
            return;
        run.server.send(nameReply(0, "たろう"));
        if (!run.server.expect(frame(Wire().u32(GetMail))))
            return;
        run.server.send(replyFrame(Wire().str("taro@example.org")));
        auto* mail = dialog->findChild<QLineEdit*>("lineEditMail");
        if (QTest::qWaitFor([mail] { return !mail->text().isEmpty(); }, 5000))
            shownMail = mail->text();
        dialog->accept();
    });
    run.window->findChild<QAction*>("action_S")->trigger();
    QCOMPARE(settings->handled(), 1);
    QCOMPARE(shownMail, QString("taro@example.org"));
}

void LoginTest::closingDuringLoginDoesNothing()
{
    Run run;
    QVERIFY(!run.window->close());
    QVERIFY(run.helloPassed());
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player1", "pass word"));
    QVERIFY(!run.window->close());
    QVERIFY2(run.server.nothingMoreFrom(run.window.get()), qPrintable(run.server.failure()));
    QVERIFY(run.window->isVisible());
}

void LoginTest::closingWhenRunningSendsQuitOnce()
{
    Run run;
    QVERIFY(run.loggedIn());
    run.window->findChild<QAction*>("action_X")->trigger();
    EXPECT_CLIENT_BYTES(run.server, QByteArray::fromHex("0400000000000000"));
    QVERIFY(!run.window->isEnabled());
    QVERIFY(!run.window->close());
    QVERIFY2(run.server.nothingMoreFrom(run.window.get()), qPrintable(run.server.failure()));
}

void LoginTest::connectionEnd_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("shown");
    QTest::newRow("normal close") << "notice0" << 0 << QString();
    QTest::newRow("server shutdown")
        << "notice1" << 1
        << "[box] critical error | サーバーが終了しました。\nメンテナンスの可能性があるため、"
           "tileParlorを終了します。\nしばらくしてから再度起動しなおしてください。";
    QTest::newRow("duplicate login")
        << "notice2" << 1
        << "[box] critical error | 他のtileParlorから同じアカウントにログインされたため、"
           "サーバーから切断されました。\ntileParlorを終了します。";
    const QString networkLost =
        "[box] critical error | サーバーから切断されました。\nネットワークが不安定のため、"
        "tileParlorを終了します。\nしばらくしてから再度起動しなおしてください。";
    QTest::newRow("notice 3") << "notice3" << 1 << networkLost;
    QTest::newRow("notice 9") << "notice9" << 1 << networkLost;
    QTest::newRow("server gone") << "disconnect" << 1 << networkLost;
    QTest::newRow("version refused") << "versionRefused" << 1 << "[dialog] UpdateDialog";
    QTest::newRow("own name unavailable")
        << "nameFails" << 1 << "[box] critical error | なぜか自分の名前が取得できなかった";
}

void LoginTest::connectionEnd()
{
    QFETCH(QString, scenario);
    QFETCH(int, exitCode);
    QFETCH(QString, shown);
    TestEnvironment env;
    const ScenarioResult result = runScenario(scenario);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);
    if (shown.isEmpty())
        QVERIFY2(!result.stdErr.contains("[box]"), qPrintable(result.stdErr));
    else
        QVERIFY2(result.stdErr.contains(shown), qPrintable(result.stdErr));
}

static int runConnectionEnd(const QString& name)
{
    Run run;
    auto answers = answerEveryModalWindow();
    if (name == "versionRefused") {
        run.server.expect(clientHello());
        run.server.send(serverHello(1));
    } else if (name == "nameFails") {
        run.helloPassed();
        run.server.expect(authenticateRequest("player1", "pass word"));
        run.server.send(authenticateReply(0, 5, ""));
        run.server.expect(getNameRequest(5));
        run.server.send(nameReply(1, ""));
    } else {
        if (!run.loggedIn())
            return 90;
        if (name == "disconnect")
            run.server.disconnectClient();
        else
            run.server.send(notifyFrame(CloseNotice, Wire().u32(name.mid(6).toUInt())));
    }
    QApplication::exec();
    return 91;
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(LoginTest, runConnectionEnd)
#include "tst_login.moc"
