// Whole matches as the main window runs them: scripted room events from the fake lobby server
// drive the match dialogs, and the battle runs a shell script as its engine from a temporary game
// folder through real pipes.

#include "support/childscenario.h"
#include "support/descriptors.h"
#include "support/dialogtesting.h"
#include "support/lobbywindow.h"

#include "app/globals.h"
#include "match/battledialog.h"
#include "match/chatapplymatchdialog.h"
#include "match/chatrecruitmatchdialog.h"
#include "match/chatwaitmatchdialog.h"
#include "match/matchsupport.h"
#include "rooms/chatroomform.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <csignal>

#include <sys/resource.h>

namespace
{
constexpr quint32 own = LobbyWindow::ownId;
constexpr quint32 hanako = 5;
constexpr quint32 jiro = 6;
constexpr quint32 gameRoom = 4;
constexpr quint32 otherRoom = 9;
const QString hostAddress = "192.0.2.7:14141";

// A request about the game room; an application also names the host.
QByteArray matchRequest(quint32 code, quint32 host = 0)
{
    Wire fields;
    fields.u32(gameRoom);
    return request(code, host != 0 ? fields.u32(host) : fields);
}

QByteArray reply(quint32 result)
{
    return replyFrame(Wire().u32(result));
}

// An engine order as hex: its number, fifteen zero bytes, then the text and zeros to 272 bytes.
QByteArray hexBlock(char order, const QByteArray& text = {})
{
    return (order + QByteArray(15, '\0') + text).leftJustified(272, '\0').toHex();
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QDialogButtonBox::StandardButtons buttonsOf(const QWidget* dialog)
{
    return child<QDialogButtonBox>(dialog, "buttonBox")->standardButtons();
}

// Logged in, in game room 4 with はなこ and じろう (and, when asked, room 9), and a game folder
// named in the machine settings.
struct MatchRun : LobbyWindow {
    QTemporaryDir game;

    bool open(bool twoRooms = false)
    {
        RoomInfo info;
        info.gameId = 0;
        if (!loggedIn() ||
            !openRoom(gameRoom, info, {{own, "たろう"}, {hanako, "はなこ"}, {jiro, "じろう"}}) ||
            (twoRooms && !openRoom(otherRoom, info, {})))
            return false;
        // Only now: the version check at login would look for the game's files.
        machineSettings->setValue("SeikanEmbu", game.path());
        return installEngine();
    }
    // The engine copies its order pipe (named by its first argument) into "orders" with reader,
    // and leaves its process id in "pid". By default it ends on the stop order after the first
    // one; "cat" has to be killed.
    bool
    installEngine(const QString& reader = "dd bs=272 count=2 iflag=fullblock status=none") const
    {
        QFile file(game.filePath("engine.exe"));
        const QString script = "#!/bin/sh\necho $$ >'%1/pid'\nexec %2 </dev/fd/$1 >'%1/orders'\n";
        return file.open(QIODevice::WriteOnly) &&
               file.write(script.arg(game.path(), reader).toUtf8()) > 0 &&
               file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
    QByteArray engineRead() const { return contents(game.filePath("orders")).toHex(); }
    void send(const QList<Event>& events, quint32 roomId = gameRoom)
    {
        QByteArray frames;
        for (const Event& event : events)
            frames += roomEventFrame(roomId, event);
        server.send(frames);
    }
    // The only match dialog of a kind that the window shows, else null.
    template <class Dialog> Dialog* one() const
    {
        QList<Dialog*> visible = window->findChildren<Dialog*>();
        visible.removeIf([](const Dialog* dialog) { return !dialog->isVisible(); });
        return visible.size() == 1 ? visible.first() : nullptr;
    }
    // The room's battle button, apart from the window being busy with a command.
    bool battleEnabled(quint32 roomId) const
    {
        return child<QPushButton>(room(roomId), "pushButtonBattle")->isEnabledTo(window.get());
    }
    // はなこ's recruit with own as guest, or own's with her: the game starts.
    BattleDialog* startBattle(quint32 host)
    {
        const quint32 guest = host == own ? hanako : own;
        send({{EventRecruitStart, host, 2, "", 4},
              {EventApply, guest, host, "", 2},
              {EventGameStart, host, 0, host == own ? "" : hostAddress}});
        return QTest::qWaitFor([this] { return one<BattleDialog>(); }) ? one<BattleDialog>()
                                                                       : nullptr;
    }
    // The own recruit with its minimum reached, はなこ's offer, the wait for her game, or her
    // game with own as guest.
    QDialog* openDialog(const QString& kind)
    {
        if (kind == "battle")
            return startBattle(hanako);
        const Event start{EventRecruitStart, kind == "recruit" ? own : hanako, 1, "", 4};
        // A second announcement of another's recruit opens no second offer.
        send(kind == "recruit" ? QList<Event>{start} : QList<Event>{start, start});
        if (kind == "wait")
            send({{EventApply, own, hanako, "", 2}});
        QDialog* dialog = nullptr;
        const bool opened = QTest::qWaitFor([&] {
            dialog = kind == "recruit" ? static_cast<QDialog*>(one<ChatRecruitMatchDialog>())
                     : kind == "apply" ? static_cast<QDialog*>(one<ChatApplyMatchDialog>())
                                       : one<ChatWaitMatchDialog>();
            return dialog != nullptr;
        });
        return opened ? dialog : nullptr;
    }
};

#define OPEN_MATCH(run, ...) QVERIFY2((run).open(__VA_ARGS__), qPrintable((run).server.failure()))

int runMatchScenario(const QString& name);
} // namespace

class MatchesTest : public QObject
{
    Q_OBJECT

  public slots:
    // Takes the reply of a command another window sent.
    void doRecvOtherReply() { readMatchResult(otherSocket); }

  private slots:
    // A write into the pipe of an engine that has gone must not end the client, even where
    // nobody told the process to ignore the signal.
    void initTestCase() { std::signal(SIGPIPE, SIG_DFL); }
    void hostMatch();
    void buttons_data();
    void buttons();
    void startError_data();
    void startError();
    void leavingTheRoomEndsItsMatch_data();
    void leavingTheRoomEndsItsMatch();
    void secondMatchIsFatal_data();
    void secondMatchIsFatal();

  private:
    ProtocolSocket* otherSocket = nullptr;
};

// From the battle button to the game's end, with an engine that ignores the stop order.
void MatchesTest::hostMatch()
{
    MatchRun run;
    OPEN_MATCH(run, true);
    QVERIFY(run.installEngine("cat"));
    child<QPushButton>(run.room(gameRoom), "pushButtonBattle")->click();
    EXPECT_CLIENT_BYTES(run.server, matchRequest(RecruitMatch));
    run.server.send(reply(0));
    run.send({{EventRecruitStart, own, 2, "", 4}});
    QTRY_VERIFY(run.one<ChatRecruitMatchDialog>());
    QPointer<ChatRecruitMatchDialog> recruit = run.one<ChatRecruitMatchDialog>();
    QCOMPARE(child<QLabel>(recruit, "labelUser")->text(), "現在 1 / 4人 (2人から対戦開始できます)");
    QCOMPARE(buttonsOf(recruit), QDialogButtonBox::Cancel);
    QVERIFY(!run.battleEnabled(gameRoom) && !run.battleEnabled(otherRoom));
    run.send({{EventApply, hanako, own, "", 2}, {EventApply, jiro, own, "", 3}});
    QTRY_COMPARE(buttonsOf(recruit), QDialogButtonBox::Yes | QDialogButtonBox::Cancel);
    press(recruit, QDialogButtonBox::Yes);
    EXPECT_CLIENT_BYTES(run.server, matchRequest(StartBattle));
    run.server.send(reply(0));
    run.send({{EventGameStart, own}});
    QTRY_VERIFY(run.one<BattleDialog>());
    BattleDialog* battle = run.one<BattleDialog>();
    QVERIFY(!recruit);
    QTRY_COMPARE(run.engineRead(), hexBlock(1));

    // The host counts as one of the minimum of 2: only the last guest's leave ends the match.
    auto* log = child<QPlainTextEdit>(run.room(gameRoom), "textLog");
    run.send({{EventGameLeave, jiro, own}, {EventSpeak, hanako, 0, "dealt with"}});
    QTRY_VERIFY(log->toPlainText().endsWith("dealt with"));
    EXPECT_NOTHING_MORE_FROM(run);
    run.send({{EventGameLeave, hanako, own}});
    EXPECT_CLIENT_BYTES(run.server, matchRequest(EndBattle));
    // The game's end waits for the reply: the battle must not go while its command is out.
    QSignalSpy notified(run.socket(), &ProtocolSocket::recvNotify);
    run.send({{EventGameEnd, own}});
    QVERIFY(notified.wait());
    QCoreApplication::processEvents();
    QCOMPARE(run.one<BattleDialog>(), battle);
    QElapsedTimer timer;
    timer.start();
    run.server.send(reply(0));
    // The stop order goes out once; the engine has a second to end, then is killed.
    QTRY_VERIFY(!run.one<BattleDialog>());
    QVERIFY2(timer.elapsed() >= 1000 && timer.elapsed() < 5000,
             qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(run.engineRead(), hexBlock(1) + hexBlock(0));
    QVERIFY(::kill(contents(run.game.filePath("pid")).trimmed().toInt(), 0) != 0);
    QVERIFY(run.battleEnabled(gameRoom) && run.battleEnabled(otherRoom));
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::buttons_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("trigger");
    // The dialog's own command, already out: nothing more may be sent.
    QTest::addColumn<QByteArray>("busyWith");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<quint32>("result");
    QTest::addColumn<QString>("refusal");
    const QByteArray start = matchRequest(StartBattle);
    const QByteArray apply = matchRequest(ApplyMatch, hanako);
    const QByteArray withdraw = matchRequest(CancelApply);
    const auto row = [](const char* name, const char* kind, const char* trigger,
                        const QByteArray& busyWith, const QByteArray& sent, quint32 result,
                        const QString& refusal) {
        QTest::newRow(name) << QString(kind) << QString(trigger) << busyWith << sent << result
                            << refusal;
    };
    row("start refused", "recruit", "Yes", {}, start, 1, "ゲームの開始に失敗しました。");
    row("recruit cancel by close, refused", "recruit", "close", {}, matchRequest(CancelRecruit), 2,
        "対戦相手募集のキャンセルに失敗しました。");
    row("recruit cancelled", "recruit", "Cancel", {}, matchRequest(CancelRecruit), 0, "");
    row("recruit, Escape while starting", "recruit", "Escape", start, {}, 0, "");
    row("application refused", "apply", "Yes", {}, apply, 7,
        "対戦の応募に失敗しました。\nすでに満席です。");
    row("offer, Escape declines", "apply", "Escape", {}, {}, 0, "");
    row("offer, close while applying", "apply", "close", apply, {}, 0, "");
    row("withdrawal by Escape refused", "wait", "Escape", {}, withdraw, 1,
        "対戦の募集への応募をキャンセルするのに失敗しました。");
    row("waiting, close while withdrawing", "wait", "close", withdraw, {}, 0, "");
}

// Buttons, the title-bar button and Escape: what each sends, or that nothing is sent while the
// dialog's command is out, and the information box of a refusal.
void MatchesTest::buttons()
{
    QFETCH(QString, kind);
    QFETCH(QString, trigger);
    QFETCH(QByteArray, busyWith);
    QFETCH(QByteArray, sent);
    QFETCH(quint32, result);
    QFETCH(QString, refusal);
    MatchRun run;
    OPEN_MATCH(run);
    QPointer<QDialog> dialog = run.openDialog(kind);
    QVERIFY(dialog);
    const auto before = buttonsOf(dialog);
    if (!busyWith.isEmpty()) {
        press(dialog, kind == "wait" ? QDialogButtonBox::Cancel : QDialogButtonBox::Yes);
        EXPECT_CLIENT_BYTES(run.server, busyWith);
    }
    if (trigger == "Escape")
        QTest::keyClick(dialog, Qt::Key_Escape);
    else if (trigger == "close")
        dialog->close();
    else
        press(dialog, trigger == "Yes" ? QDialogButtonBox::Yes : QDialogButtonBox::Cancel);
    if (sent.isEmpty()) {
        EXPECT_NOTHING_MORE_FROM(run);
        // Declining an offer is the user's own business; everything else waits for the server.
        QCOMPARE(dialog && dialog->isVisible(), kind != "apply" || !busyWith.isEmpty());
        return;
    }
    EXPECT_CLIENT_BYTES(run.server, sent);
    QTRY_VERIFY(!dialog->isEnabled());
    // Everything but the box follows from the server's events, not from the reply. The window
    // may take the dialog down while its box is up: the box goes with it.
    SeenBox seen;
    auto after = before;
    ModalWatcher box([&](QWidget* modal) {
        auto* shown = qobject_cast<QMessageBox*>(modal);
        if (shown) {
            seen = {shown->icon(), shown->windowTitle(), shown->text()};
            after = buttonsOf(dialog);
            run.send({{EventRecruitCancel, kind == "recruit" ? own : hanako}});
        }
        return shown != nullptr;
    });
    run.server.send(reply(result));
    if (refusal.isEmpty()) {
        QTRY_VERIFY(dialog->isEnabled());
        after = buttonsOf(dialog);
    } else {
        QTRY_COMPARE(box.handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Information, "対戦マッチング", refusal);
        QTRY_VERIFY(!dialog);
    }
    QCOMPARE(after, before);
    QVERIFY(!QApplication::activeModalWidget());
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::startError_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<quint32>("host");
    QTest::addColumn<QString>("text");
    const QString notInstalled = "星環演武がインストールされていません。";
    QTest::newRow("no pipes, host") << "pipes" << own << "リソース不足です。";
    QTest::newRow("no folder, guest") << "folder" << hanako << notInstalled;
    // The report waits until the connection's one command is free.
    QTest::newRow("no engine while another command is out, guest")
        << "engine" << hanako
        << "星環演武の起動に失敗しました。\nファイルが見つかりません。\n"
           "(インストールしたフォルダから手動で移動したりすると発生します)";
}

void MatchesTest::startError()
{
    QFETCH(QString, fault);
    QFETCH(quint32, host);
    QFETCH(QString, text);
    MatchRun run;
    OPEN_MATCH(run);
    if (fault == "engine") {
        otherSocket = run.socket();
        otherSocket->beginCommand(this, SLOT(doRecvOtherReply()), run.window.get(),
                                  SLOT(setEnabled(bool)));
        otherSocket->writeUInt32(GetName);
        otherSocket->sendCommand();
        EXPECT_CLIENT_BYTES(run.server, request(GetName));
        QVERIFY(QFile::remove(run.game.filePath("engine.exe")));
    }
    if (fault == "folder")
        machineSettings->remove("SeikanEmbu");
    const int freeFd = lowestFreeFd();
    rlimit saved = {};
    getrlimit(RLIMIT_NOFILE, &saved);
    // Room for the engine's input pipe at most: its output pipe cannot be made.
    const rlimit tight = {fault == "pipes" ? rlim_t(freeFd + 2) : saved.rlim_cur, saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &tight);
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    QVERIFY(run.startBattle(host));
    setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(lowestFreeFd(), freeFd);
    if (fault == "engine") {
        EXPECT_NOTHING_MORE_FROM(run);
        run.server.send(reply(0));
    }
    EXPECT_CLIENT_BYTES(run.server, matchRequest(host == own ? EndBattle : DropBattle));
    QTRY_COMPARE(box->handled(), 1);
    COMPARE_BOX(seen, QMessageBox::Information, "対戦状況", text);
    // The reply runs the event queue again, while the game's start is long done with.
    run.server.send(reply(0));
    QTRY_VERIFY(run.window->isEnabled());
    QVERIFY(run.one<BattleDialog>());
    // A leave after the end must not end the match a second time.
    run.send(
        {{EventGameLeave, host == own ? hanako : own, host}, {EventSpeak, hanako, 0, "dealt"}});
    QTRY_VERIFY(
        child<QPlainTextEdit>(run.room(gameRoom), "textLog")->toPlainText().endsWith("dealt"));
    QVERIFY(run.engineRead().isEmpty());
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::leavingTheRoomEndsItsMatch_data()
{
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"recruit", "apply", "wait", "battle"})
        QTest::newRow(kind) << QString(kind);
}

void MatchesTest::leavingTheRoomEndsItsMatch()
{
    QFETCH(QString, kind);
    MatchRun run;
    OPEN_MATCH(run, true);
    QPointer<QDialog> dialog = run.openDialog(kind);
    QVERIFY(dialog);
    // A guest's engine joins the host at the address the game's start gave.
    const QByteArray join = hexBlock(2, hostAddress.toUtf8());
    if (kind == "battle")
        QTRY_COMPARE(run.engineRead(), join);
    QCOMPARE(run.battleEnabled(otherRoom), kind == "apply");
    child<QPushButton>(run.room(gameRoom), "pushButtonLeave")->click();
    EXPECT_CLIENT_BYTES(run.server, matchRequest(LeaveRoom));
    run.server.send(reply(0));
    QTRY_VERIFY(!dialog);
    QVERIFY(run.battleEnabled(otherRoom));
    if (kind == "battle")
        QCOMPARE(run.engineRead(), join + hexBlock(0));
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::secondMatchIsFatal_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("recruit twice") << "なぜか募集を複数回できてしまった";
    QTest::newRow("battle twice") << "なぜか対戦中に再度対戦が指定された";
}

void MatchesTest::secondMatchIsFatal()
{
    QFETCH(QString, message);
    VERIFY_FATAL_EXIT(runScenario(QTest::currentDataTag()), message);
}

namespace
{
// The server starts a second match while one runs.
int runMatchScenario(const QString& name)
{
    MatchRun run;
    if (!run.open())
        return 98;
    auto answers = answerEveryModalWindow();
    if (name == "recruit twice")
        run.send({{EventRecruitStart, own, 2, "", 4}, {EventRecruitStart, own, 2, "", 4}});
    else
        run.startBattle(own);
    run.send({{EventGameStart, own}});
    return keepRunningUntilExit();
}
} // namespace

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(MatchesTest, runMatchScenario)
#include "tst_matches.moc"
