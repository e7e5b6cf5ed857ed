// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounts/accountselectdialog.h"
#include "app/globals.h"
#include "mainwindow/admindialog.h"
#include "mainwindow/gameversioncheck.h"
#include "mainwindow/updatedialog.h"
#include "rooms/chatroomlistform.h"
#include "settings/setnamedialog.h"
#include "settings/usersettingdialog.h"
#include "support/childscenario.h"
#include "support/dialogtesting.h"
#include "support/lobbywindow.h"

#include <QAction>
#include <QLabel>
#include <QScopeGuard>

#include <cstdio>

namespace
{
// The port-mapping tool's stand-in goes beside the test executable, never beside the client, and
// records its arguments as it ends.
QString besideTest(const char* name)
{
    return QCoreApplication::applicationDirPath() + "/" + name;
}

QStringList recordedRuns()
{
    QFile runs(besideTest("upnpcj-record.txt"));
    return runs.open(QIODevice::ReadOnly)
               ? QString::fromUtf8(runs.readAll()).split('\n', Qt::SkipEmptyParts)
               : QStringList();
}
} // namespace

class LoginTest : public QObject
{
    Q_OBJECT

  private slots:
    // The game's version file against the latest version, 258 (a newer one: the login walk;
    // without a configured folder there is nothing to check, and no box: the scenarios).
    void versionCheck_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("failure");
        // Big-endian in the file's first four bytes.
        QTest::newRow("same, longer file") << QByteArray::fromHex("0000010299") << QString();
        QTest::newRow("3 bytes") << QByteArray::fromHex("000001")
                                 << QString("ファイルが読み込めません。");
        QTest::newRow("missing")
            << QByteArray()
            << QString("(インストールしたフォルダから手動で移動したりすると発生します)");
    }
    void versionCheck()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, failure);
        TestEnvironment env;
        machineSettings->setValue("SeikanEmbu", env.path(""));
        QFile version(env.path("ver."));
        if (!file.isNull())
            QVERIFY(version.open(QIODevice::WriteOnly) && version.write(file) && version.flush());

        Modals modals;
        checkGameVersions(nullptr, {{0, 258}});
        const QString box = boxText(QMessageBox::Information, "バージョンチェック",
                                    "星環演武のバージョンチェックに失敗しました。\n" + failure);
        QCOMPARE(modals.seen.join('\n'), failure.isEmpty() ? failure : box);
    }

    // Closing the window does nothing during the login. The account dialog comes back until an
    // account is stored, and after a refused login. A missing handle name is asked for, then an
    // older game is noticed, then the list shows with the administrator tool beside it (the exact
    // "true" only: the scenarios use "True"). A connection count that comes before the list is
    // kept for it; unknown notifications are skipped. While the settings window is open the room
    // list must not walk: the walk's command would disable the main window and grey the settings
    // window out with it. Once running, the menu's exit sends Quit once.
    void loginWalkFromHelloToQuit()
    {
        LobbyWindow run("");
        QVERIFY(!run.window->close());
        userSettings->setValue("admin", "true");
        machineSettings->setValue("SeikanEmbu", run.env.path(""));
        QFile version(run.env.path("ver."));
        QVERIFY(version.open(QIODevice::WriteOnly) &&
                version.write(QByteArray::fromHex("00000101")) && version.flush());
        const QStringList accounts = {"", "", "player3", "player2"};
        int runs = 0;
        bool stayedEnabled = false;
        // A failed expect leaves the settings dialog disabled, and failure() tells why.
        Modals modals([&](QWidget* modal) {
            if (auto* dialog = qobject_cast<AccountSelectDialog*>(modal)) {
                const QString id = accounts.value(runs++);
                if (!id.isEmpty()) {
                    userSettings->setValue("account/id", id);
                    userSettings->setValue("account/password", "secret");
                }
                dialog->done(id.isEmpty() ? QDialog::Rejected : QDialog::Accepted);
            } else if (qobject_cast<SetNameDialog*>(modal)) {
                typeInto(modal, "lineEdit", "じろう");
                press(modal, QDialogButtonBox::Ok);
            } else if (auto* settings = qobject_cast<UserSettingDialog*>(modal)) {
                run.server.expect(getNameRequest(9));
                run.server.send(nameReply(0, "じろう"));
                run.server.expect(frameBytes(GetMailRequest{}));
                run.server.send(frameBytes(MailReply{"jiro@example.org"}));
                if (QTest::qWaitFor([settings] { return settings->isEnabled(); }, 5000)) {
                    run.tick();
                    stayedEnabled = run.server.nothingMoreFrom(run.window.get()) &&
                                    settings->isEnabled() && run.window->isEnabled();
                }
                settings->accept();
            }
        });
        EXPECT_CLIENT_BYTES(run.server, clientHello());
        run.server.send(serverHello(0));
        // Nothing is sent with the incomplete account: the first request carries the stored one.
        EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player3", "secret"));
        run.server.send(authenticateReply(3, 0, 0, ""));
        EXPECT_CLIENT_BYTES(run.server, authenticateRequest("player2", "secret"));
        run.server.send(authenticateReply(0, 9, 12, "本日のお知らせ"));
        EXPECT_CLIENT_BYTES(run.server, getNameRequest(9));
        run.server.send(nameReply(0, "") + frameBytes(ConnectionCountNotification{33}));
        EXPECT_CLIENT_BYTES(run.server, frameBytes(SetNameRequest{"じろう"}) + getNameRequest(9));
        run.server.send(nameReply(0, "じろう"));
        EXPECT_CLIENT_BYTES(run.server, frameBytes(GetCountRequest{}));
        QVERIFY(!run.window->isEnabled());
        const auto* message = child<QLineEdit>(run.window.get(), "lineSysMessage");
        QCOMPARE(message->text(), QString("本日のお知らせ"));
        run.server.send(frame(Wire().byte(NotifyPacket).u32(9).u32(1)) +
                        frameBytes(SystemMessageNotification{"メンテナンス"}));
        QTRY_COMPARE(message->text(), QString("メンテナンス"));
        VERIFY_STEP(run, listShown(3));
        QCOMPARE(child<QLineEdit>(run.roomList(), "lineName")->text(), QString("じろう"));
        QCOMPARE(child<QLineEdit>(run.roomList(), "lineConnection")->text(), QString("33"));
        const auto* tool = run.window->findChild<AdminDialog*>();
        QVERIFY(tool && tool->isVisible());
        run.window->findChild<QAction*>("action_S")->trigger();
        QVERIFY2(stayedEnabled, qPrintable(run.server.failure()));
        // Held, not stopped: the first tick afterwards walks.
        run.tick();
        EXPECT_CLIENT_BYTES(run.server, getRoomInfoRequest(0));
        run.server.send(roomInfoReply({"", 1, 8, chatOnlyGameId, 0, noRoom, 1}));
        QTRY_VERIFY(child<QWidget>(run.roomList(), "widgetList")->isEnabled());
        const QString select = "AccountSelectDialog \"tileParlorへようこそ\"";
        QCOMPARE(modals.seen, QStringList({select, select, select,
                                           boxText(QMessageBox::Warning, "アカウント情報",
                                                   "ログインに失敗しました。\nアカウント名、"
                                                   "パスワードを確認してください。"),
                                           select, "SetNameDialog \"ハンドル名の変更\"",
                                           "UpdateDialog \"新しいソフトウェアを発見\"",
                                           "UserSettingDialog \"ユーザー設定\""}));
        run.window->findChild<QAction*>("action_X")->trigger();
        EXPECT_CLIENT_BYTES(run.server, frameBytes(QuitRequest{}));
        QVERIFY(!run.window->isEnabled());
        QVERIFY(!run.window->close());
        EXPECT_NOTHING_MORE(run);
    }

    // The tool maps the port before the connection, which waits for it (the scenario checks), and
    // unmaps it after the end; it may outlive the client, so its record may come a little later.
    void portMappingToolAroundTheConnection()
    {
        QFile::remove(besideTest("upnpcj-record.txt"));
        QFile script(besideTest("UPnPCJ.exe"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\nsleep 0.3\necho \"$*\" >> '%1'\n")
                         .arg(besideTest("upnpcj-record.txt"))
                         .toUtf8());
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        script.close();
        // Not before the record: the shell opens the script by name after the client has gone.
        const auto removeScript = qScopeGuard([&script] { script.remove(); });
        const ScenarioResult result = runScenario("notice 0");
        QCOMPARE(result.exitCode, 0);
        QTRY_COMPARE_WITH_TIMEOUT(recordedRuns(),
                                  QStringList({"/open 14141 TCP", "/close 14141 TCP"}), 10000);
    }

    void connectionEnd_data()
    {
        QTest::addColumn<QString>("shown"); // nothing for a clean exit, else code 1
        QTest::newRow("notice 0") << QString();
        QTest::newRow("notice 1")
            << "[box] critical error | サーバーが終了しました。\nメンテナンスの可能性があるため、"
               "tileParlorを終了します。\nしばらくしてから再度起動しなおしてください。";
        QTest::newRow("notice 2")
            << "[box] critical error | 他のtileParlorから同じアカウントにログインされたため、"
               "サーバーから切断されました。\ntileParlorを終了します。";
        // Close notices other than 0 to 2 end the connection as a disconnect does
        // (tst_protocolsocket).
        QTest::newRow("disconnect")
            << "[box] critical error | サーバーから切断されました。\nネットワーク"
               "が不安定のため、tileParlorを終了します。\nしばらくしてから再度"
               "起動しなおしてください。";
        QTest::newRow("version refused")
            << "[notice] 新しいtileParlorがリリースされています。\nTILEWORKのホームページで新しい"
               "tileParlorを入手して、\ntileParlorをバージョンアップしてください。 | \n"
               "このtileParlorは終了します。";
        QTest::newRow("name fails") << "[box] critical error | なぜか自分の名前が取得できなかった";
        QTest::newRow("identity unconfirmed")
            << "[box] critical error | サーバーの身元を確認できませんでした。\n安全に接続できない"
               "ため、何も送信せずにtileParlorを終了します。\n接続先の設定を確認してください。";
    }
    void connectionEnd()
    {
        QFETCH(QString, shown);
        const ScenarioResult result = runScenario(QTest::currentDataTag());
        QVERIFY(result.finished);
        QCOMPARE(result.exitCode, shown.isEmpty() ? 0 : 1);
        QVERIFY2(shown.isEmpty() ? !result.stdErr.contains("[box]") : result.stdErr.contains(shown),
                 qPrintable(result.stdErr));
    }
};

static int runConnectionEnd(const QString& name)
{
    // TLS with no CA to check the lobby against (the checks themselves are tst_tls's).
    if (name == "identity unconfirmed") {
        qputenv("TILEPARLOR_LOBBY_TLS", "1");
        qputenv("TILEPARLOR_LOBBY_CA", "/nonexistent/ca.pem");
    }
    LobbyWindow run;
    userSettings->setValue("admin", "True");
    // The update notice's two texts go to stderr; every window is answered as it comes.
    auto answers = answerEveryModalWindow([](QWidget* window) {
        if (qobject_cast<UpdateDialog*>(window))
            std::fprintf(stderr, "[notice] %s | %s\n",
                         qPrintable(window->findChild<QLabel*>("labelUpper")->text()),
                         qPrintable(window->findChild<QLabel*>("labelLower")->text()));
    });
    if (name == "version refused") {
        run.server.expect(clientHello());
        run.server.send(serverHello(1));
    } else if (name == "name fails") {
        run.named("", 1);
    } else if (name == "identity unconfirmed") {
        // It ends by itself, before connecting.
    } else if (!run.loggedIn()) {
        return 90;
    } else if (QFile::exists(besideTest("UPnPCJ.exe")) && recordedRuns().isEmpty()) {
        return 92;
    } else if (run.window->findChild<AdminDialog*>()) {
        return 93;
    } else if (name == "disconnect") {
        run.server.disconnectClient();
    } else {
        run.server.send(frameBytes(CloseNotification{name.mid(7).toUInt()}));
    }
    QApplication::exec();
    return 91;
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(LoginTest, runConnectionEnd)
#include "tst_login.moc"
