// Whole matches as the main window runs them: scripted room events from the fake lobby server
// drive the match dialogs, and the battle runs a real engine (the stand-in, or a script) from a
// temporary game folder through real pipes.

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

#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>

#include <csignal>

#include <sys/resource.h>

namespace
{

constexpr quint32 own = LobbyWindow::ownId;
constexpr quint32 hanako = 5;
constexpr quint32 jiro = 6;
constexpr quint32 saburo = 8;
constexpr quint32 gameRoom = 4;
constexpr quint32 otherRoom = 9;
const QString hostAddress = "192.0.2.7:14141";
using Buttons = QDialogButtonBox::StandardButtons;
constexpr Buttons yesCancel = QDialogButtonBox::Yes | QDialogButtonBox::Cancel;

QByteArray request(quint32 code, std::initializer_list<quint32> fields)
{
    Wire wire;
    wire.u32(code);
    for (const quint32 field : fields)
        wire.u32(field);
    return frame(wire);
}

QByteArray reply(quint32 result)
{
    return replyFrame(Wire().u32(result));
}

QByteArray hexBlock(quint8 order, const QByteArray& text = {})
{
    QByteArray block(272, '\0');
    block[0] = char(order);
    return block.replace(16, int(text.size()), text).toHex();
}

// A label's or line edit's text, or a list's rows joined by commas.
QString shownText(const QWidget* dialog, const QString& name)
{
    if (const auto* label = dialog->findChild<QLabel*>(name))
        return label->text();
    if (const auto* list = dialog->findChild<QListWidget*>(name)) {
        QStringList rows;
        for (int i = 0; i < list->count(); ++i)
            rows << list->item(i)->text();
        return rows.join(',');
    }
    return child<QLineEdit>(dialog, qPrintable(name))->text();
}

Buttons buttonsOf(const QWidget* dialog)
{
    return child<QDialogButtonBox>(dialog, "buttonBox")->standardButtons();
}

// Logged in, in game room 4 with はなこ and じろう (and, when asked, room 9 with さぶろう),
// and a game folder named in the machine settings.
struct MatchRun : LobbyWindow {
    QTemporaryDir game;

    bool open(bool twoRooms = false)
    {
        RoomInfo info;
        info.gameId = 0;
        if (!loggedIn() ||
            !openRoom(gameRoom, info, {{own, "たろう"}, {hanako, "はなこ"}, {jiro, "じろう"}}) ||
            (twoRooms && !openRoom(otherRoom, info, {{own, "たろう"}, {saburo, "さぶろう"}})))
            return false;
        // Only now: the version check at login would look for the game's files.
        machineSettings->setValue("SeikanEmbu", game.path());
        qputenv("TILEPARLOR_DEMOENGINE_LOG", game.filePath("engine.log").toLocal8Bit());
        return true;
    }
    // "demo" for the stand-in; "quits" for a script that logs its order as the stand-in does and
    // ends at once.
    bool installEngine(const QString& kind) const
    {
        const QString path = game.filePath("engine.exe");
        if (kind == "demo")
            return QFile::copy(DEMOENGINE_PATH, path);
        QFile script(path);
        return script.open(QIODevice::WriteOnly) &&
               script.write(
                   "#!/bin/sh\nhead -c 272 /dev/fd/$1 | od -An -v -tx1 | tr -d ' \\n' "
                   ">>\"$TILEPARLOR_DEMOENGINE_LOG\"\necho >>\"$TILEPARLOR_DEMOENGINE_LOG\"\n") >
                   0 &&
               script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }
    // Every order block the engine read so far, as hex.
    QList<QByteArray> engineLog() const
    {
        QFile log(game.filePath("engine.log"));
        QList<QByteArray> lines =
            log.open(QIODevice::ReadOnly) ? log.readAll().split('\n') : QList<QByteArray>{""};
        lines.removeLast();
        return lines;
    }
    void send(const QList<Event>& events, quint32 roomId = gameRoom)
    {
        QByteArray frames;
        for (const Event& event : events)
            frames += roomEventFrame(roomId, event);
        server.send(frames);
    }
    // The match dialogs of a kind that the window shows.
    template <class Dialog> QList<Dialog*> shown() const
    {
        QList<Dialog*> visible;
        for (Dialog* dialog : window->findChildren<Dialog*>()) {
            if (dialog->isVisible())
                visible << dialog;
        }
        return visible;
    }
    template <class Dialog> Dialog* one() const
    {
        const QList<Dialog*> visible = shown<Dialog>();
        return visible.size() == 1 ? visible.first() : nullptr;
    }
    // The room's battle button, apart from the window being busy with a command.
    bool battleEnabled(quint32 roomId) const
    {
        return child<QPushButton>(room(roomId), "pushButtonBattle")->isEnabledTo(window.get());
    }
    // A battle of own's recruit with はなこ (and じろう), or of はなこ's with own as guest.
    void startBattle(quint32 host, quint32 minPlayers = 2, bool twoGuests = false)
    {
        const quint32 guest = host == own ? hanako : own;
        QList<Event> events = {{EventRecruitStart, host, minPlayers, "", 4},
                               {EventApply, guest, host, "", 2}};
        if (twoGuests)
            events << Event{EventApply, jiro, host, "", 3};
        events << Event{EventGameStart, host, 0, host == own ? "" : hostAddress};
        send(events);
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
    void guestMatch();
    void offers();
    void requestAndRefusal_data();
    void requestAndRefusal();
    void closeAndEscape_data();
    void closeAndEscape();
    void startError_data();
    void startError();
    void leavingPlayers_data();
    void leavingPlayers();
    void leavingTheRoomEndsItsMatch_data();
    void leavingTheRoomEndsItsMatch();
    void secondMatchIsFatal_data();
    void secondMatchIsFatal();

  private:
    ProtocolSocket* otherSocket = nullptr;
};

void MatchesTest::hostMatch()
{
    MatchRun run;
    OPEN_MATCH(run, true);
    QVERIFY(run.installEngine("demo"));
    child<QPushButton>(run.room(gameRoom), "pushButtonBattle")->click();
    EXPECT_CLIENT_BYTES(run.server, request(RecruitMatch, {gameRoom}));
    run.server.send(reply(0));
    run.send({{EventRecruitStart, own, 2, "", 4}});
    QTRY_VERIFY(run.one<ChatRecruitMatchDialog>());
    QPointer<ChatRecruitMatchDialog> recruit = run.one<ChatRecruitMatchDialog>();
    QCOMPARE(shownText(recruit, "lineRoom"), run.room(gameRoom)->title);
    QCOMPARE(shownText(recruit, "labelUser"), "現在 1 / 4人 (2人から対戦開始できます)");
    QCOMPARE(buttonsOf(recruit), QDialogButtonBox::Cancel);
    QVERIFY(!run.battleEnabled(gameRoom) && !run.battleEnabled(otherRoom));

    run.send({{EventApply, hanako, own, "", 2}});
    QTRY_COMPARE(buttonsOf(recruit), yesCancel);
    press(recruit, QDialogButtonBox::Yes);
    EXPECT_CLIENT_BYTES(run.server, request(StartBattle, {gameRoom}));
    run.server.send(reply(0));
    run.send({{EventGameStart, own}});
    QTRY_VERIFY(run.one<BattleDialog>());
    BattleDialog* battle = run.one<BattleDialog>();
    QVERIFY(!recruit);
    QCOMPARE(shownText(battle, "listUser"), "たろう,はなこ");
    QTRY_COMPARE(run.engineLog(), QList<QByteArray>{hexBlock(1)});

    // Below the minimum of 2 the host ends the match; the game's end waits for that reply.
    run.send({{EventGameLeave, hanako, own}});
    EXPECT_CLIENT_BYTES(run.server, request(EndBattle, {gameRoom}));
    QSignalSpy notified(run.socket(), &ProtocolSocket::recvNotify);
    run.send({{EventGameEnd, own}});
    QVERIFY(notified.wait());
    QCoreApplication::processEvents();
    QCOMPARE(run.one<BattleDialog>(), battle);
    run.server.send(reply(0));
    QTRY_VERIFY(!run.one<BattleDialog>());
    QCOMPARE(run.engineLog(), (QList<QByteArray>{hexBlock(1), hexBlock(0)}));
    QVERIFY(run.battleEnabled(gameRoom) && run.battleEnabled(otherRoom));
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::guestMatch()
{
    MatchRun run;
    OPEN_MATCH(run);
    QVERIFY(run.installEngine("quits"));
    run.send({{EventRecruitStart, hanako, 2, "", 4}});
    QTRY_VERIFY(run.one<ChatApplyMatchDialog>());
    ChatApplyMatchDialog* offer = run.one<ChatApplyMatchDialog>();
    QCOMPARE(shownText(offer, "lineUserName"), "はなこ");
    QCOMPARE(shownText(offer, "labelUser"), "参加状況(1 / 4人)");
    press(offer, QDialogButtonBox::Yes);
    EXPECT_CLIENT_BYTES(run.server, request(ApplyMatch, {gameRoom, hanako}));
    run.server.send(reply(0));
    run.send({{EventApply, own, hanako, "", 2}, {EventApply, jiro, hanako, "", 3}});
    QTRY_VERIFY(run.one<ChatWaitMatchDialog>());
    QPointer<ChatWaitMatchDialog> wait = run.one<ChatWaitMatchDialog>();
    QCOMPARE(shownText(wait, "lineUser"), "はなこ");
    QTRY_COMPARE(shownText(wait, "labelStatus"), "参加状況(3 / 4人)");
    QVERIFY(run.shown<ChatApplyMatchDialog>().isEmpty());
    QVERIFY(!run.battleEnabled(gameRoom));

    // The engine takes its order and ends at once: one report, about 100 ms later.
    run.send({{EventGameStart, hanako, 0, hostAddress}});
    QTRY_VERIFY(run.one<BattleDialog>());
    QVERIFY(!wait);
    QCOMPARE(shownText(run.one<BattleDialog>(), "listUser"), "はなこ,たろう,じろう");
    QSignalSpy commandState(run.socket(), &ProtocolSocket::changeCommandState);
    EXPECT_CLIENT_BYTES(run.server, request(DropBattle, {gameRoom}));
    QCOMPARE(run.engineLog(), QList<QByteArray>{hexBlock(2, hostAddress.toUtf8())});
    run.server.send(reply(0));
    QTRY_VERIFY(run.window->isEnabled());
    // Polling has stopped: no second report follows.
    commandState.clear();
    QVERIFY(!commandState.wait(350));
    EXPECT_NOTHING_MORE_FROM(run);
    // The stop order goes to an engine that has gone.
    run.send({{EventGameEnd, hanako}});
    QTRY_VERIFY(!run.one<BattleDialog>());
    QVERIFY(run.battleEnabled(gameRoom));
}

void MatchesTest::offers()
{
    MatchRun run;
    OPEN_MATCH(run, true);
    // A second announcement of the same recruit opens no second offer.
    run.send({{EventRecruitStart, hanako, 2, "", 4}});
    run.send({{EventRecruitStart, saburo, 2, "", 3}, {EventRecruitStart, saburo, 2, "", 3}},
             otherRoom);
    QTRY_COMPARE(run.shown<ChatApplyMatchDialog>().size(), 2);
    ChatApplyMatchDialog* offer = run.shown<ChatApplyMatchDialog>().first();
    QCOMPARE(offer->hostId, hanako);

    run.send({{EventApply, jiro, hanako, "", 4}});
    QTRY_COMPARE(shownText(offer, "labelUser"), "参加状況(4 / 4人)");
    QCOMPARE(buttonsOf(offer), QDialogButtonBox::No);
    run.send({{EventApplyCancel, jiro, hanako, "", 3}});
    QTRY_COMPARE(buttonsOf(offer), QDialogButtonBox::Yes | QDialogButtonBox::No);

    // Taken in one room, the user waits there and is offered nothing more anywhere.
    run.send({{EventApply, own, hanako, "", 3}});
    QTRY_VERIFY(run.one<ChatWaitMatchDialog>());
    QVERIFY(run.shown<ChatApplyMatchDialog>().isEmpty());
    QVERIFY(!run.battleEnabled(otherRoom));
    run.send({{EventRecruitCancel, saburo}, {EventRecruitStart, saburo, 2, "", 3}}, otherRoom);
    run.send({{EventApplyCancel, jiro, hanako, "", 2}});
    QTRY_COMPARE(shownText(run.one<ChatWaitMatchDialog>(), "labelStatus"), "参加状況(2 / 4人)");
    QVERIFY(run.shown<ChatApplyMatchDialog>().isEmpty());

    // The host calls it off: the wait ends and every battle button is back.
    run.send({{EventRecruitCancel, hanako}});
    QTRY_VERIFY(!run.one<ChatWaitMatchDialog>());
    QVERIFY(run.battleEnabled(gameRoom) && run.battleEnabled(otherRoom));
    // A game the user does not play in takes its offer along and opens no battle.
    run.send({{EventRecruitCancel, saburo}, {EventRecruitStart, saburo, 2, "", 3}}, otherRoom);
    QTRY_VERIFY(run.one<ChatApplyMatchDialog>());
    run.send({{EventGameStart, saburo, 0, hostAddress}}, otherRoom);
    QTRY_VERIFY(run.shown<ChatApplyMatchDialog>().isEmpty());
    QVERIFY(run.shown<BattleDialog>().isEmpty());
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::requestAndRefusal_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("button");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<quint32>("result");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, const char* kind, int button, const QByteArray& sent,
                        quint32 result, const QString& text) {
        QTest::newRow(name) << QString(kind) << button << sent << result << text;
    };
    const QByteArray cancelRecruit = request(CancelRecruit, {gameRoom});
    const QByteArray apply = request(ApplyMatch, {gameRoom, hanako});

    row("start refused", "recruit", QDialogButtonBox::Yes, request(StartBattle, {gameRoom}), 1,
        "ゲームの開始に失敗しました。");
    row("recruit cancel refused", "recruit", QDialogButtonBox::Cancel, cancelRecruit, 2,
        "対戦相手募集のキャンセルに失敗しました。");
    row("recruit cancelled", "recruit", QDialogButtonBox::Cancel, cancelRecruit, 0, "");
    row("application refused", "apply", QDialogButtonBox::Yes, apply, 7,
        "対戦の応募に失敗しました。\nすでに満席です。");
    row("withdrawal refused", "wait", QDialogButtonBox::Cancel, request(CancelApply, {gameRoom}), 1,
        "対戦の募集への応募をキャンセルするのに失敗しました。");
}

// The dialog of a kind, opened as the server's events open it: the own recruit with the
// minimum already reached, はなこ's offer, or the wait for her game.
QDialog* openDialog(MatchRun& run, const QString& kind)
{
    if (kind == "recruit")
        run.send({{EventRecruitStart, own, 1, "", 4}});
    else
        run.send({{EventRecruitStart, hanako, 2, "", 4}});
    if (kind == "wait")
        run.send({{EventApply, own, hanako, "", 2}});
    QDialog* dialog = nullptr;
    const bool opened = QTest::qWaitFor([&] {
        dialog = kind == "recruit" ? static_cast<QDialog*>(run.one<ChatRecruitMatchDialog>())
                 : kind == "apply" ? static_cast<QDialog*>(run.one<ChatApplyMatchDialog>())
                                   : run.one<ChatWaitMatchDialog>();
        return dialog != nullptr;
    });
    return opened ? dialog : nullptr;
}

void MatchesTest::requestAndRefusal()
{
    QFETCH(QString, kind);
    QFETCH(int, button);
    QFETCH(QByteArray, sent);
    QFETCH(quint32, result);
    QFETCH(QString, text);

    MatchRun run;
    OPEN_MATCH(run);
    QPointer<QDialog> dialog = openDialog(run, kind);
    QVERIFY(dialog);
    const Buttons before = buttonsOf(dialog);
    press(dialog, QDialogButtonBox::StandardButton(button));
    EXPECT_CLIENT_BYTES(run.server, sent);
    QTRY_VERIFY(!dialog->isEnabled());

    // Everything but the box follows from the server's events, not from the reply. The window
    // may take the dialog down while its box is up: the box goes with it.
    SeenBox seen;
    Buttons after;
    ModalWatcher box([&](QWidget* modal) {
        auto* shown = qobject_cast<QMessageBox*>(modal);
        if (!shown)
            return false;
        seen = {shown->icon(), shown->windowTitle(), shown->text()};
        after = buttonsOf(dialog);
        run.send({{EventRecruitCancel, kind == "recruit" ? own : hanako}});
        return true;
    });
    run.server.send(reply(result));
    if (text.isEmpty()) {
        QTRY_VERIFY(dialog->isEnabled());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(buttonsOf(dialog), before);
    } else {
        QTRY_COMPARE(box.handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Information, "対戦マッチング", text);
        QCOMPARE(after, before);
        QTRY_VERIFY(!dialog);
        QVERIFY(!QApplication::activeModalWidget());
    }
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::closeAndEscape_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("escape");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QByteArray>("sent");
    const auto row = [](const char* name, const char* kind, bool escape, bool busy,
                        const QByteArray& sent) {
        QTest::newRow(name) << QString(kind) << escape << busy << sent;
    };
    row("recruit, close", "recruit", false, false, request(CancelRecruit, {gameRoom}));
    row("recruit, Escape", "recruit", true, false, request(CancelRecruit, {gameRoom}));
    row("recruit, Escape while starting", "recruit", true, true, {});
    row("offer, Escape declines", "apply", true, false, {});
    row("offer, close while applying", "apply", false, true, {});
    row("waiting, close", "wait", false, false, request(CancelApply, {gameRoom}));
    row("waiting, Escape while withdrawing", "wait", true, true, {});
}

void MatchesTest::closeAndEscape()
{
    QFETCH(QString, kind);
    QFETCH(bool, escape);
    QFETCH(bool, busy);
    QFETCH(QByteArray, sent);

    MatchRun run;
    OPEN_MATCH(run);
    QPointer<QDialog> dialog = openDialog(run, kind);
    QVERIFY(dialog);
    if (busy) {
        press(dialog, kind == "wait" ? QDialogButtonBox::Cancel : QDialogButtonBox::Yes);
        QTRY_VERIFY(!dialog->isEnabled());
        QVERIFY(run.server.expect(kind == "recruit" ? request(StartBattle, {gameRoom})
                                  : kind == "apply" ? request(ApplyMatch, {gameRoom, hanako})
                                                    : request(CancelApply, {gameRoom})));
    }
    if (escape)
        QTest::keyClick(dialog, Qt::Key_Escape);
    else
        dialog->close();

    if (!sent.isEmpty())
        EXPECT_CLIENT_BYTES(run.server, sent);
    EXPECT_NOTHING_MORE_FROM(run);
    // Declining an offer is the user's own business; everything else waits for the server.
    QCOMPARE(dialog && dialog->isVisible(), kind != "apply" || busy);
}

void MatchesTest::startError_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("otherCommand");
    QTest::addColumn<quint32>("host");
    QTest::addColumn<QString>("text");
    const QString notInstalled = "星環演武がインストールされていません。";
    const QString noEngine = "星環演武の起動に失敗しました。\nファイルが見つかりません。\n"
                             "(インストールしたフォルダから手動で移動したりすると発生します)";
    QTest::newRow("no pipes, host") << "pipes" << false << own << "リソース不足です。";
    QTest::newRow("no folder, guest") << "folder" << false << hanako << notInstalled;
    QTest::newRow("empty folder, host") << "empty" << false << own << notInstalled;
    QTest::newRow("no engine, guest") << "engine" << false << hanako << noEngine;
    // The report waits until the connection's one command is free.
    QTest::newRow("no engine while another command is out") << "engine" << true << own << noEngine;
}

void MatchesTest::startError()
{
    QFETCH(QString, fault);
    QFETCH(bool, otherCommand);
    QFETCH(quint32, host);
    QFETCH(QString, text);

    MatchRun run;
    OPEN_MATCH(run);
    if (fault != "engine")
        QVERIFY(run.installEngine("demo"));
    if (fault == "folder")
        machineSettings->remove("SeikanEmbu");
    if (fault == "empty")
        machineSettings->setValue("SeikanEmbu", "");
    if (otherCommand) {
        otherSocket = run.socket();
        otherSocket->beginCommand(this, SLOT(doRecvOtherReply()), run.window.get(),
                                  SLOT(setEnabled(bool)));
        otherSocket->writeUInt32(GetName);
        otherSocket->sendCommand();
        EXPECT_CLIENT_BYTES(run.server, request(GetName, {}));
    }
    const int freeFd = lowestFreeFd();
    rlimit saved = {};
    getrlimit(RLIMIT_NOFILE, &saved);
    // Room for the engine's input pipe at most: its output pipe cannot be made.
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(freeFd + 2);
    if (fault == "pipes")
        setrlimit(RLIMIT_NOFILE, &tight);
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    run.startBattle(host);
    QTRY_VERIFY(run.one<BattleDialog>());
    setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(lowestFreeFd(), freeFd);

    if (otherCommand) {
        EXPECT_NOTHING_MORE_FROM(run);
        run.server.send(reply(0));
    }
    EXPECT_CLIENT_BYTES(run.server, request(host == own ? EndBattle : DropBattle, {gameRoom}));
    QTRY_COMPARE(box->handled(), 1);
    COMPARE_BOX(seen, QMessageBox::Information, "対戦状況", text);
    // The reply runs the event queue again, while the game's start is long done with.
    run.server.send(reply(0));
    QTRY_VERIFY(run.window->isEnabled());
    QCOMPARE(run.shown<BattleDialog>().size(), 1);
    QVERIFY(run.engineLog().isEmpty());
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::leavingPlayers_data()
{
    QTest::addColumn<quint32>("host");
    QTest::addColumn<quint32>("minPlayers");
    QTest::addColumn<QList<quint32>>("leaving");
    QTest::addColumn<int>("endsAt");
    QTest::addColumn<QString>("players");

    QTest::newRow("minimum 3: the first leave ends")
        << own << 3u << QList<quint32>{hanako, jiro} << 0 << "たろう";
    QTest::newRow("minimum 2: only the last leave ends")
        << own << 2u << QList<quint32>{jiro, 99, hanako} << 2 << "たろう";
    QTest::newRow("a guest never ends it")
        << hanako << 2u << QList<quint32>{jiro, hanako} << -1 << "はなこ,たろう";
}

void MatchesTest::leavingPlayers()
{
    QFETCH(quint32, host);
    QFETCH(quint32, minPlayers);
    QFETCH(QList<quint32>, leaving);
    QFETCH(int, endsAt);
    QFETCH(QString, players);

    MatchRun run;
    OPEN_MATCH(run);
    QVERIFY(run.installEngine("demo"));
    run.startBattle(host, minPlayers, true);
    QTRY_VERIFY(run.one<BattleDialog>());
    BattleDialog* battle = run.one<BattleDialog>();
    for (int i = 0; i < leaving.size(); ++i) {
        run.send({{EventGameLeave, leaving[i], host}});
        if (i == endsAt)
            EXPECT_CLIENT_BYTES(run.server, request(EndBattle, {gameRoom}));
    }
    // A leave that came while the end was out is dealt with after its reply.
    if (endsAt >= 0)
        run.server.send(reply(0));
    QTRY_COMPARE(shownText(battle, "listUser"), players);
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::leavingTheRoomEndsItsMatch_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("recruit") << "recruit";
    QTest::newRow("offer") << "apply";
    QTest::newRow("wait") << "wait";
    QTest::newRow("battle") << "battle";
}

void MatchesTest::leavingTheRoomEndsItsMatch()
{
    QFETCH(QString, kind);

    MatchRun run;
    OPEN_MATCH(run, true);
    QVERIFY(run.installEngine("demo"));
    QPointer<QDialog> dialog;
    if (kind == "battle") {
        run.startBattle(own);
        QTRY_VERIFY((dialog = run.one<BattleDialog>()));
        QTRY_COMPARE(run.engineLog().size(), 1);
    } else {
        dialog = openDialog(run, kind);
    }
    QVERIFY(dialog);
    QCOMPARE(run.battleEnabled(otherRoom), kind == "apply");

    child<QPushButton>(run.room(gameRoom), "pushButtonLeave")->click();
    EXPECT_CLIENT_BYTES(run.server, request(LeaveRoom, {gameRoom}));
    run.server.send(reply(0));
    QTRY_VERIFY(!dialog);
    QVERIFY(run.battleEnabled(otherRoom));
    if (kind == "battle")
        QCOMPARE(run.engineLog(), (QList<QByteArray>{hexBlock(1), hexBlock(0)}));
    EXPECT_NOTHING_MORE_FROM(run);
}

void MatchesTest::secondMatchIsFatal_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("recruit twice") << "recruit twice"
                                   << "なぜか募集を複数回できてしまった";
    QTest::newRow("battle twice") << "battle twice"
                                  << "なぜか対戦中に再度対戦が指定された";
}

void MatchesTest::secondMatchIsFatal()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    VERIFY_FATAL_EXIT(runScenario(name), message);
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
