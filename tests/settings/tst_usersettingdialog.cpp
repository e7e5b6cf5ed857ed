#include "support/dialogtesting.h"
#include "app/globals.h"
#include "mainwindow/mainwindow.h"
#include "protocol/requestcode.h"
#include "settings/usersettingdialog.h"
#include "support/childscenario.h"

#include <QLabel>
#include <QTextDocument>

#include <memory>

namespace
{

// A main window for the calls the settings window makes through mainWindow. Its own lobby takes
// the hello and never answers it, so the window stays disabled and sends nothing else. Open it
// before the lobby the test talks to: both find their server through the same environment.
class IdleMainWindow
{
  public:
    ~IdleMainWindow() { mainWindow = nullptr; }

    bool open()
    {
        server.exportAddress();
        window = std::make_unique<MainWindow>();
        mainWindow = window.get();
        return server.expect(clientHello());
    }

    MainWindow* get() const { return window.get(); }

  private:
    FakeLobbyServer server;
    std::unique_ptr<MainWindow> window;
};

// The lobby the settings window talks to, and the main window it reports the name to.
struct SettingsRun {
    ConnectedLobby lobby;
    IdleMainWindow owner;

    bool open() { return owner.open() && lobby.open(); }
    QString failure() const { return lobby.server.failure(); }
};

#define OPEN_RUN(run) QVERIFY2((run).open(), qPrintable((run).failure()))

QByteArray getNameRequest()
{
    return frame(Wire().u32(GetName).u32(ownUserId));
}

QByteArray getMailRequest()
{
    return frame(Wire().u32(GetMail));
}

QByteArray nameReply(quint32 result, const QString& name)
{
    return replyFrame(Wire().u32(result).str(name));
}

QByteArray mailReply(const QString& mail)
{
    return replyFrame(Wire().str(mail));
}

// Serves the window's GetName and GetMail.
bool serveFetch(FakeLobbyServer& server, const QString& name, const QString& mail)
{
    if (!server.expect(getNameRequest()))
        return false;
    server.send(nameReply(0, name));
    if (!server.expect(getMailRequest()))
        return false;
    server.send(mailReply(mail));
    return true;
}

#define SERVE_FETCH(run, name, mail)                                                               \
    QVERIFY2(serveFetch((run).lobby.server, name, mail), qPrintable((run).failure()))

QString plainText(const QLabel* label)
{
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

} // namespace

class UserSettingDialogTest : public QObject
{
    Q_OBJECT

  private slots:
    void init() { ownUserId = 0x01020304; }
    void fetchesNameThenMail();
    void changeDialogIsFollowedByRefetch_data();
    void changeDialogIsFollowedByRefetch();
    void closingWhileFetchingDoesNothing();
    void refusedOwnNameIsFatal();
};

void UserSettingDialogTest::fetchesNameThenMail()
{
    SettingsRun run;
    OPEN_RUN(run);
    UserSettingDialog dialog(nullptr, &run.lobby.socket);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("ユーザー設定"));
    QCOMPARE(plainText(child<QLabel>(&dialog, "label_2")), QString("\nﾊﾝﾄﾞﾙ名"));
    QCOMPARE(plainText(child<QLabel>(&dialog, "label_3")), QString("\nメールアドレス"));
    QVERIFY(child<QLineEdit>(&dialog, "lineEditName")->isReadOnly());
    QVERIFY(child<QLineEdit>(&dialog, "lineEditMail")->isReadOnly());

    EXPECT_CLIENT_BYTES(run.lobby.server, frame(QByteArray::fromHex("0600000004030201")));
    QTRY_VERIFY(!dialog.isEnabled());
    run.lobby.server.send(nameReply(0, "たろう"));
    EXPECT_CLIENT_BYTES(run.lobby.server, getMailRequest());
    QVERIFY(!dialog.isEnabled());
    QCOMPARE(textOf(&dialog, "lineEditName"), QString("たろう"));
    QCOMPARE(run.owner.get()->ownName(), QString("たろう"));
    run.lobby.server.send(mailReply("taro@example.jp"));

    QTRY_VERIFY(dialog.isEnabled());
    QCOMPARE(textOf(&dialog, "lineEditMail"), QString("taro@example.jp"));
    QVERIFY(!run.lobby.socket.isCommandOpen());
    EXPECT_NOTHING_MORE(run.lobby);
}

void UserSettingDialogTest::changeDialogIsFollowedByRefetch_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("changeDialog");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("change");

    QTest::newRow("password, Cancel") << "pushButtonPassword"
                                      << "SetPassDialog"
                                      << "" << QByteArray();
    QTest::newRow("name, Cancel") << "pushButtonName"
                                  << "SetNameDialog"
                                  << "" << QByteArray();
    QTest::newRow("mail, Cancel") << "pushButtonMail"
                                  << "SetMailDialog"
                                  << "" << QByteArray();
    QTest::newRow("name changed") << "pushButtonName"
                                  << "SetNameDialog"
                                  << "じろう" << frame(Wire().u32(SetName).str("じろう"));
    QTest::newRow("mail changed") << "pushButtonMail"
                                  << "SetMailDialog"
                                  << "jiro@example.jp"
                                  << frame(Wire().u32(SetMail).str("jiro@example.jp"));
}

void UserSettingDialogTest::changeDialogIsFollowedByRefetch()
{
    QFETCH(QString, button);
    QFETCH(QString, changeDialog);
    QFETCH(QString, typed);
    QFETCH(QByteArray, change);

    SettingsRun run;
    OPEN_RUN(run);
    UserSettingDialog dialog(nullptr, &run.lobby.socket);
    dialog.show();
    SERVE_FETCH(run, "たろう", "taro@example.jp");
    QTRY_VERIFY(dialog.isEnabled());

    QWidget* ranOver = nullptr;
    ModalWatcher changeWatcher([&](QWidget* modal) {
        if (modal->metaObject()->className() != changeDialog)
            return false;
        ranOver = modal->parentWidget();
        if (typed.isEmpty()) {
            press(modal, QDialogButtonBox::Cancel);
            return true;
        }
        typeInto(modal, "lineEdit", typed);
        press(modal, QDialogButtonBox::Ok);
        return true;
    });
    child<QPushButton>(&dialog, qPrintable(button))->click();
    QCOMPARE(changeWatcher.handled(), 1);
    QCOMPARE(ranOver, &dialog);

    if (!change.isEmpty())
        EXPECT_CLIENT_BYTES(run.lobby.server, change);
    SERVE_FETCH(run, "じろう", "jiro@example.jp");
    QTRY_VERIFY(dialog.isEnabled());
    QCOMPARE(textOf(&dialog, "lineEditName"), QString("じろう"));
    QCOMPARE(textOf(&dialog, "lineEditMail"), QString("jiro@example.jp"));
    QCOMPARE(run.owner.get()->ownName(), QString("じろう"));
    EXPECT_NOTHING_MORE(run.lobby);
}

void UserSettingDialogTest::closingWhileFetchingDoesNothing()
{
    SettingsRun run;
    OPEN_RUN(run);
    UserSettingDialog dialog(nullptr, &run.lobby.socket);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.show();
    EXPECT_CLIENT_BYTES(run.lobby.server, getNameRequest());
    QTRY_VERIFY(!dialog.isEnabled());

    dialog.close();
    QVERIFY(dialog.isVisible());
    run.lobby.server.send(nameReply(0, "たろう"));
    EXPECT_CLIENT_BYTES(run.lobby.server, getMailRequest());
    dialog.close();
    QVERIFY(dialog.isVisible());
    run.lobby.server.send(mailReply("taro@example.jp"));
    QTRY_VERIFY(dialog.isEnabled());
    QCOMPARE(rejected.count(), 0);

    dialog.close();
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!dialog.isVisible());
    EXPECT_NOTHING_MORE(run.lobby);
}

void UserSettingDialogTest::refusedOwnNameIsFatal()
{
    const ScenarioResult result = runScenario("nameRefused");
    VERIFY_FATAL_EXIT(result, "なぜか自分の名前が取得できなかった");
}

static int runSettingsScenario(const QString&)
{
    SettingsRun run;
    if (!run.open())
        return 90;
    auto answers = answerEveryModalWindow();
    UserSettingDialog dialog(nullptr, &run.lobby.socket);
    dialog.show();
    if (!run.lobby.server.expect(getNameRequest()))
        return 91;
    run.lobby.server.send(nameReply(1, ""));
    return keepRunningUntilExit();
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(UserSettingDialogTest, runSettingsScenario)
#include "tst_usersettingdialog.moc"
