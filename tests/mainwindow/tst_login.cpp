#include "accounts/accountselectdialog.h"
#include "app/globals.h"
#include "mainwindow/admindialog.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/updatedialog.h"
#include "rooms/chatroomlistform.h"
#include "settings/setnamedialog.h"
#include "settings/usersettingdialog.h"
#include "lobbywire.h"
#include "support/childscenario.h"
#include "support/dialogtesting.h"
#include "support/lobbyframes.h"
#include "support/lobbywindow.h"

#include <QAction>
#include <QLabel>
#include <QTabWidget>

#include <cstdio>

#include <memory>

namespace
{
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
                dialog->done(QDialog::Rejected);
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
    void loginEndsWithTheRoomList();
    void gameVersionIsCheckedBeforeTheRoomList_data();
    void gameVersionIsCheckedBeforeTheRoomList();
    void refusedLoginAsksForAccountAndTriesAgain();
    void missingPasswordAsksForAccountUntilStored();
    void missingHandleNameIsAskedFor();
    void administratorToolOnlyForExactlyTrue_data();
    void administratorToolOnlyForExactlyTrue();
    void settingsMenuHoldsTheRoomList();
    void closingDuringLoginDoesNothing();
    void closingWhenRunningSendsQuitOnce();
    void connectionEnd_data();
    void connectionEnd();
};

void LoginTest::loginEndsWithTheRoomList()
{
    LobbyWindow run;
    QVERIFY(run.window->findChild<QPushButton*>("buttonWaitBattle")->isHidden());
    QVERIFY(run.window->findChild<QPushButton*>("buttonOfferBattle")->isHidden());
    QVERIFY(run.helloPassed());
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player1", "pass word"));
    QVERIFY(!run.window->isEnabled());
    run.server.send(authenticateReply(0, 77, 12, "本日のお知らせ"));
    EXPECT_CLIENT_BYTES(run.server, getNameRequest(77));
    QCOMPARE(ownUserId, 77u);
    run.server.send(nameReply(0, "たろう"));
    EXPECT_CLIENT_BYTES(run.server, request(GetCount));
    QCOMPARE(run.tabs()->count(), 0);
    QVERIFY(!run.window->isEnabled());
    VERIFY_STEP(run, listShown(3));

    QCOMPARE(run.tabs()->count(), 1);
    QCOMPARE(run.tabs()->tabText(0), QString("ルーム一覧"));
    QCOMPARE(run.window->findChild<QLineEdit*>("lineSysMessage")->text(),
             QString("本日のお知らせ"));
    QCOMPARE(run.window->ownName(), QString("たろう"));
    QCOMPARE(textOf(run.roomList(), "lineName"), QString("たろう"));
    QCOMPARE(textOf(run.roomList(), "lineConnection"), QString("12"));
    run.window->setOwnName("はなこ");
    QCOMPARE(textOf(run.roomList(), "lineName"), QString("はなこ"));

    run.window->appendAllRoomsLog(12, "こんにちは");
    QTRY_COMPARE(run.allRoomsLog(), QString("(12) こんにちは"));
    // No sound device here: the bell must neither fail nor block.
    run.window->playBell();
}

void LoginTest::gameVersionIsCheckedBeforeTheRoomList_data()
{
    QTest::addColumn<QByteArray>("installed");
    QTest::addColumn<bool>("notice");
    QTest::newRow("latest") << QByteArray::fromHex("00000102") << false;
    QTest::newRow("older") << QByteArray::fromHex("00000101") << true;
}

void LoginTest::gameVersionIsCheckedBeforeTheRoomList()
{
    QFETCH(QByteArray, installed);
    QFETCH(bool, notice);
    LobbyWindow run;
    machineSettings->setValue("SeikanEmbu", run.env.path(""));
    QFile file(run.env.path("ver."));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(installed);
    file.close();
    QString shown;
    auto answer = answerDialog<UpdateDialog>([&](UpdateDialog* dialog) {
        shown = dialog->findChild<QLabel*>("labelUpper")->text();
        dialog->accept();
    });
    VERIFY_STEP(run, named());
    QCOMPARE(answer->handled(), notice ? 1 : 0);
    if (notice)
        QCOMPARE(shown, QString("新しい星環演武がリリースされています。\n"
                                "TILEWORKのホームページで新しいファイルを入手して、\n"
                                "バージョンアップすることをお勧めします。"));
}

void LoginTest::refusedLoginAsksForAccountAndTriesAgain()
{
    LobbyWindow run;
    QVERIFY(run.helloPassed());
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player1", "pass word"));
    SeenBox seen;
    auto warning = answerMessageBox(&seen);
    auto account = answerAccountDialogs(0, "player2", "new pass");
    run.server.send(authenticateReply(3, 0, 0, ""));
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player2", "new pass"));
    QCOMPARE(warning->handled(), 1);
    COMPARE_BOX(seen, QMessageBox::Warning, "アカウント情報",
                "ログインに失敗しました。\nアカウント名、パスワードを確認してください。");
    QCOMPARE(account->handled(), 1);
}

void LoginTest::missingPasswordAsksForAccountUntilStored()
{
    LobbyWindow run("");
    auto account = answerAccountDialogs(2, "player3", "secret");
    QVERIFY(run.helloPassed());
    // Nothing is sent with the incomplete account: the first request carries the stored one.
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player3", "secret"));
    QCOMPARE(account->handled(), 3);
}

void LoginTest::missingHandleNameIsAskedFor()
{
    LobbyWindow run;
    auto naming = answerDialog<SetNameDialog>([](SetNameDialog* dialog) {
        typeInto(dialog, "lineEdit", "じろう");
        press(dialog, QDialogButtonBox::Ok);
    });
    QVERIFY(run.helloPassed());
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player1", "pass word"));
    run.server.send(authenticateReply(0, 9, 1, ""));
    EXPECT_CLIENT_BYTES(run.server, getNameRequest(9));
    run.server.send(nameReply(0, ""));
    EXPECT_CLIENT_BYTES(run.server, frame(Wire().u32(SetName).str("じろう")) + getNameRequest(9));
    QVERIFY(!run.window->isEnabled());
    run.server.send(nameReply(0, "じろう"));
    EXPECT_CLIENT_BYTES(run.server, request(GetCount));
    VERIFY_STEP(run, listShown());
    QCOMPARE(run.window->ownName(), QString("じろう"));
    QCOMPARE(textOf(run.roomList(), "lineName"), QString("じろう"));
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
    LobbyWindow run;
    if (!admin.isNull())
        userSettings->setValue("admin", admin);
    VERIFY_STEP(run, named());
    QVERIFY(run.window->findChildren<AdminDialog*>().isEmpty());
    VERIFY_STEP(run, listShown());
    const auto tools = run.window->findChildren<AdminDialog*>();
    QCOMPARE(tools.size(), shown ? 1 : 0);
    if (!shown)
        return;
    QVERIFY(tools[0]->isVisible());
    // Created once for the whole run: neither its close button nor Escape may hide it.
    QVERIFY(!tools[0]->close());
    QTest::keyClick(tools[0], Qt::Key_Escape);
    QVERIFY(tools[0]->isVisible());
}

// While the settings window is open the room list must not walk: the walk's command would
// disable the main window and grey the settings window out with it.
void LoginTest::settingsMenuHoldsTheRoomList()
{
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn(1));
    bool stayedEnabled = false;
    auto settings = answerDialog<UserSettingDialog>([&](UserSettingDialog* dialog) {
        if (!run.server.expect(getNameRequest(77)))
            return;
        run.server.send(nameReply(0, "たろう"));
        if (!run.server.expect(frame(Wire().u32(GetMail))))
            return;
        run.server.send(replyFrame(Wire().str("taro@example.org")));
        if (!QTest::qWaitFor([dialog] { return dialog->isEnabled(); }, 5000))
            return;
        run.tick();
        stayedEnabled = run.server.nothingMoreFrom(run.window.get()) && dialog->isEnabled() &&
                        run.window->isEnabled();
        dialog->accept();
    });
    run.window->findChild<QAction*>("action_S")->trigger();
    QCOMPARE(settings->handled(), 1);
    QVERIFY2(stayedEnabled, qPrintable(run.server.failure()));
    // Held, not stopped: the first tick afterwards walks.
    run.tick();
    EXPECT_CLIENT_BYTES(run.server, getRoomInfoRequest(0));
}

void LoginTest::closingDuringLoginDoesNothing()
{
    LobbyWindow run;
    QVERIFY(!run.window->close());
    QVERIFY(run.helloPassed());
    EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player1", "pass word"));
    QVERIFY(!run.window->close());
    QVERIFY2(run.server.nothingMoreFrom(run.window.get()), qPrintable(run.server.failure()));
    QVERIFY(run.window->isVisible());
}

void LoginTest::closingWhenRunningSendsQuitOnce()
{
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
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
    QTest::newRow("version refused")
        << "versionRefused" << 1
        << "[notice] 新しいtileParlorがリリースされています。\nTILEWORKのホームページで新しい"
           "tileParlorを入手して、\ntileParlorをバージョンアップしてください。 | \n"
           "このtileParlorは終了します。";
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

// Writes the update notice's two texts to stderr and closes it.
static std::unique_ptr<ModalWatcher> reportUpdateNotice()
{
    return answerDialog<UpdateDialog>([](UpdateDialog* notice) {
        std::fprintf(stderr, "[notice] %s | %s\n",
                     qPrintable(notice->findChild<QLabel*>("labelUpper")->text()),
                     qPrintable(notice->findChild<QLabel*>("labelLower")->text()));
        std::fflush(stderr);
        notice->accept();
    });
}

static int runConnectionEnd(const QString& name)
{
    LobbyWindow run;
    if (name == "versionRefused") {
        auto notice = reportUpdateNotice();
        run.server.expect(clientHello());
        run.server.send(serverHello(1));
        QApplication::exec();
        return 91;
    }
    auto answers = answerEveryModalWindow();
    if (name == "nameFails") {
        run.helloPassed();
        run.server.expect(authenticateRequest("player1", "pass word"));
        run.server.send(authenticateReply(0, 5, 1, ""));
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
