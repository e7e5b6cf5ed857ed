// The match dialogs against the scripted lobby server; the battle runs a real engine (the
// stand-in, or a script) from a temporary game folder, through real pipes.

#include "support/descriptors.h"
#include "support/dialogtesting.h"

#include "app/gameinfo.h"
#include "app/globals.h"
#include "match/battledialog.h"
#include "match/chatapplymatchdialog.h"
#include "match/chatrecruitmatchdialog.h"
#include "match/chatwaitmatchdialog.h"
#include "match/matchsupport.h"
#include "match/matchhost.h"
#include "rooms/recruitment.h"

#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

#include <sys/resource.h>

namespace
{

constexpr uint roomNo = 12;
constexpr uint hostNo = 0x11;
constexpr uint guestNo = 0x22;
constexpr uint otherNo = 0x33;
constexpr uint guestMinimum = 0xFFFFFFFFu;
const QString hostAddress = "192.0.2.7:14141";

QString nameOf(uint userId)
{
    return QString("user %1").arg(userId);
}

QByteArray request(quint32 code, std::initializer_list<quint32> fields)
{
    Wire wire;
    wire.u32(code);
    for (const quint32 field : fields)
        wire.u32(field);
    return frame(wire);
}

QByteArray hexBlock(quint8 order, const QByteArray& text = {})
{
    QByteArray block(272, '\0');
    block[0] = char(order);
    return block.replace(16, int(text.size()), text).toHex();
}

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

QDialogButtonBox::StandardButtons buttonsOf(const QWidget* dialog)
{
    return child<QDialogButtonBox>(dialog, "buttonBox")->standardButtons();
}

// The main window and the room, as the dialogs see them.
struct FakeHost : MatchHost {
    QList<ChatApplyMatchDialog*> declined;
    int roomEventRuns = 0;

    QString roomTitle(uint roomId) const override { return QString("部屋 %1").arg(roomId); }
    uint roomGameId(uint) const override { return knownGameId; }
    void removeApplyDialog(ChatApplyMatchDialog* dialog) override { declined << dialog; }
    void runRoomEvents() override { ++roomEventRuns; }
    QString userName(const ChatRoomForm*, uint userId) const override { return nameOf(userId); }
    uint roomId(const ChatRoomForm*) const override { return roomNo; }
};

// The lobby, a window standing for the main window, and a game folder.
struct MatchRun {
    ConnectedLobby lobby;
    FakeHost host;
    QWidget owner;
    QTemporaryDir game;

    MatchRun()
    {
        matchHost = &host;
        machineSettings->setValue("SeikanEmbu", game.path());
        qputenv("TILEPARLOR_DEMOENGINE_LOG", game.filePath("engine.log").toLocal8Bit());
    }
    ~MatchRun() { matchHost = nullptr; }
    // Every order block the stand-in engine read so far, as hex.
    QList<QByteArray> engineLog() const
    {
        QFile log(game.filePath("engine.log"));
        QList<QByteArray> lines =
            log.open(QIODevice::ReadOnly) ? log.readAll().split('\n') : QList<QByteArray>{""};
        lines.removeLast();
        return lines;
    }
    // "demo" for the stand-in, "quits" for one that takes its order and ends at once.
    bool installEngine(const QString& kind) const
    {
        const QString path = game.filePath("engine.exe");
        if (kind == "demo")
            return QFile::copy(DEMOENGINE_PATH, path);
        QFile script(path);
        return script.open(QIODevice::WriteOnly) &&
               script.write("#!/bin/sh\nexec head -c 272 /dev/fd/$1 >/dev/null\n") > 0 &&
               script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }
    std::unique_ptr<BattleDialog> battle(uint own, const QVector<uint>& guests = {guestNo},
                                         uint minPlayers = 2)
    {
        ownUserId = own;
        auto dialog = std::make_unique<BattleDialog>(
            &owner, &lobby.socket, nullptr, Recruitment{hostNo, guests},
            own == hostNo ? minPlayers : guestMinimum, knownGameId, hostAddress);
        dialog->show();
        return dialog;
    }
    std::unique_ptr<QDialog> dialog(const QString& kind, uint minPlayers, uint maxPlayers)
    {
        std::unique_ptr<QDialog> made;
        if (kind == "recruit")
            made = std::make_unique<ChatRecruitMatchDialog>(&owner, &lobby.socket, roomNo, hostNo,
                                                            minPlayers, maxPlayers);
        else if (kind == "apply")
            made = std::make_unique<ChatApplyMatchDialog>(&owner, &lobby.socket, roomNo, hostNo,
                                                          nameOf(hostNo), maxPlayers);
        else
            made = std::make_unique<ChatWaitMatchDialog>(&owner, &lobby.socket, roomNo, hostNo,
                                                         nameOf(hostNo), maxPlayers, 2);
        made->show();
        return made;
    }
};

void setCount(QDialog* dialog, uint count)
{
    if (auto* recruit = qobject_cast<ChatRecruitMatchDialog*>(dialog))
        recruit->setParticipantCount(count);
    else if (auto* apply = qobject_cast<ChatApplyMatchDialog*>(dialog))
        apply->setParticipantCount(count);
    else
        qobject_cast<ChatWaitMatchDialog*>(dialog)->setParticipantCount(count);
}

using Buttons = QDialogButtonBox::StandardButtons;

} // namespace

class MatchDialogsTest : public QObject
{
    Q_OBJECT

  public slots:
    // Takes the reply of a command another window sent.
    void doRecvOtherReply() { readMatchResult(otherSocket); }

  private slots:
    // A write into the pipe of an engine that has gone must not end the client, even where
    // nobody told the process to ignore the signal.
    void initTestCase() { std::signal(SIGPIPE, SIG_DFL); }

    void statusLine_data();
    void statusLine();
    void requestAndRefusal_data();
    void requestAndRefusal();
    void closeAndEscape_data();
    void closeAndEscape();
    void battle_data();
    void battle();
    void startError_data();
    void startError();
    void leavingPlayers_data();
    void leavingPlayers();

  private:
    ProtocolSocket* otherSocket = nullptr;
};

void MatchDialogsTest::statusLine_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<uint>("minPlayers");
    QTest::addColumn<QList<uint>>("counts");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<Buttons>("buttons");
    const auto row = [](const char* name, const char* kind, uint min, const QList<uint>& counts,
                        const QStringList& texts, Buttons buttons) {
        QTest::newRow(name) << QString(kind) << min << counts << texts << buttons;
    };
    const Buttons yesCancel = QDialogButtonBox::Yes | QDialogButtonBox::Cancel;
    const Buttons yesNo = QDialogButtonBox::Yes | QDialogButtonBox::No;

    // The maximum is 4 throughout.
    row("recruit, 1 of 2 to 4", "recruit", 2, {},
        {"labelRoom=チャット No.12", "lineRoom=部屋 12", "lineGame=星環演武",
         "labelUser=現在 1 / 4人 (2人から対戦開始できます)"},
        QDialogButtonBox::Cancel);
    row("recruit, minimum 4 reached", "recruit", 4, {4}, {"labelUser=現在 4 / 4人"}, yesCancel);
    row("recruit, below the minimum again", "recruit", 3, {3, 2},
        {"labelUser=現在 2 / 4人 (3人から対戦開始できます)"}, QDialogButtonBox::Cancel);
    row("offer, 1 of 4", "apply", 0, {},
        {"labelUserNo=ユーザー No.17", "lineUserName=user 17", "labelUser=参加状況(1 / 4人)"},
        yesNo);
    row("offer, full", "apply", 0, {4}, {"labelUser=参加状況(4 / 4人)"}, QDialogButtonBox::No);
    row("offer, a place free again", "apply", 0, {4, 3}, {"labelUser=参加状況(3 / 4人)"}, yesNo);
    row("waiting, another guest came", "wait", 0, {3},
        {"labelUser=ユーザー No.17", "lineUser=user 17", "labelStatus=参加状況(3 / 4人)"},
        QDialogButtonBox::Cancel);
}

void MatchDialogsTest::statusLine()
{
    QFETCH(QString, kind);
    QFETCH(uint, minPlayers);
    QFETCH(QList<uint>, counts);
    QFETCH(QStringList, texts);
    QFETCH(Buttons, buttons);

    MatchRun run;
    auto dialog = run.dialog(kind, minPlayers, 4);
    for (const uint count : counts)
        setCount(dialog.get(), count);
    for (const QString& shown : texts)
        QCOMPARE(shownText(dialog.get(), shown.section('=', 0, 0)), shown.section('=', 1));
    QCOMPARE(buttonsOf(dialog.get()), buttons);
}

void MatchDialogsTest::requestAndRefusal_data()
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
    const QByteArray cancelRecruit = request(CancelRecruit, {roomNo});
    const QByteArray apply = request(ApplyMatch, {roomNo, hostNo});

    row("start refused", "recruit", QDialogButtonBox::Yes, request(StartBattle, {roomNo}), 1,
        "ゲームの開始に失敗しました。");
    row("recruit cancel refused", "recruit", QDialogButtonBox::Cancel, cancelRecruit, 2,
        "対戦相手募集のキャンセルに失敗しました。");
    row("recruit cancelled", "recruit", QDialogButtonBox::Cancel, cancelRecruit, 0, "");
    row("application refused", "apply", QDialogButtonBox::Yes, apply, 7,
        "対戦の応募に失敗しました。\nすでに満席です。");
    row("application taken", "apply", QDialogButtonBox::Yes, apply, 0, "");
    row("withdrawal refused", "wait", QDialogButtonBox::Cancel, request(CancelApply, {roomNo}), 1,
        "対戦の募集への応募をキャンセルするのに失敗しました。");
}

void MatchDialogsTest::requestAndRefusal()
{
    QFETCH(QString, kind);
    QFETCH(int, button);
    QFETCH(QByteArray, sent);
    QFETCH(quint32, result);
    QFETCH(QString, text);

    MatchRun run;
    OPEN_LOBBY(run.lobby);
    auto dialog = run.dialog(kind, 1, 4);
    const Buttons before = buttonsOf(dialog.get());
    press(dialog.get(), QDialogButtonBox::StandardButton(button));
    EXPECT_CLIENT_BYTES(run.lobby.server, sent);
    QTRY_VERIFY(!dialog->isEnabled());

    // Everything but the box follows from the server's events, not from the reply. The main
    // window may take the dialog down while its box is up: the box goes with it.
    SeenBox seen;
    Buttons after;
    ModalWatcher box([&](QWidget* modal) {
        auto* shown = qobject_cast<QMessageBox*>(modal);
        if (!shown)
            return false;
        seen = {shown->icon(), shown->windowTitle(), shown->text()};
        after = buttonsOf(dialog.get());
        dialog.reset();
        return true;
    });
    run.lobby.server.send(replyFrame(Wire().u32(result)));
    if (text.isEmpty()) {
        QTRY_VERIFY(dialog->isEnabled());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(buttonsOf(dialog.get()), before);
    } else {
        QTRY_COMPARE(box.handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Information, "対戦マッチング", text);
        QCOMPARE(after, before);
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }
    QVERIFY(run.host.declined.isEmpty());
    EXPECT_NOTHING_MORE(run.lobby);
}

void MatchDialogsTest::closeAndEscape_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("escape");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QByteArray>("sent");
    const auto row = [](const char* name, const char* kind, bool escape, bool busy,
                        const QByteArray& sent) {
        QTest::newRow(name) << QString(kind) << escape << busy << sent;
    };
    row("recruit, close", "recruit", false, false, request(CancelRecruit, {roomNo}));
    row("recruit, Escape", "recruit", true, false, request(CancelRecruit, {roomNo}));
    row("recruit, Escape while starting", "recruit", true, true, {});
    row("offer, close declines", "apply", false, false, {});
    row("offer, Escape declines", "apply", true, false, {});
    row("offer, close while applying", "apply", false, true, {});
    row("waiting, Escape", "wait", true, false, request(CancelApply, {roomNo}));
    row("waiting, close while withdrawing", "wait", false, true, {});
}

void MatchDialogsTest::closeAndEscape()
{
    QFETCH(QString, kind);
    QFETCH(bool, escape);
    QFETCH(bool, busy);
    QFETCH(QByteArray, sent);

    MatchRun run;
    OPEN_LOBBY(run.lobby);
    auto dialog = run.dialog(kind, 1, 4);
    if (busy) {
        press(dialog.get(), kind == "wait" ? QDialogButtonBox::Cancel : QDialogButtonBox::Yes);
        QTRY_VERIFY(!dialog->isEnabled());
        QVERIFY(run.lobby.server.expect(kind == "recruit" ? request(StartBattle, {roomNo})
                                        : kind == "apply" ? request(ApplyMatch, {roomNo, hostNo})
                                                          : request(CancelApply, {roomNo})));
    }
    if (escape)
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
    else
        dialog->close();

    if (!sent.isEmpty())
        EXPECT_CLIENT_BYTES(run.lobby.server, sent);
    EXPECT_NOTHING_MORE(run.lobby);
    QCOMPARE(run.host.declined.size(), kind == "apply" && !busy ? 1 : 0);
    // Only the main window takes these dialogs down.
    QVERIFY(dialog->isVisible());
}

void MatchDialogsTest::battle_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<uint>("own");
    QTest::addColumn<QList<QByteArray>>("blocks");
    QTest::addColumn<QByteArray>("report");
    const QList<QByteArray> host = {hexBlock(1), hexBlock(0)};
    const QList<QByteArray> guest = {hexBlock(2, hostAddress.toUtf8()), hexBlock(0)};
    QTest::newRow("host") << "demo" << hostNo << host << QByteArray();
    QTest::newRow("guest") << "demo" << guestNo << guest << QByteArray();
    QTest::newRow("host's engine ends")
        << "quits" << hostNo << QList<QByteArray>() << request(EndBattle, {roomNo});
    QTest::newRow("guest's engine ends")
        << "quits" << guestNo << QList<QByteArray>() << request(DropBattle, {roomNo});
}

void MatchDialogsTest::battle()
{
    QFETCH(QString, engine);
    QFETCH(uint, own);
    QFETCH(QList<QByteArray>, blocks);
    QFETCH(QByteArray, report);

    MatchRun run;
    OPEN_LOBBY(run.lobby);
    QVERIFY(run.installEngine(engine));
    QSignalSpy commandState(&run.lobby.socket, &ProtocolSocket::changeCommandState);
    const int freeFd = lowestFreeFd();
    auto dialog = run.battle(own, {guestNo, otherNo});
    QCOMPARE(shownText(dialog.get(), "lineTitle"), QString("星環演武"));
    QCOMPARE(shownText(dialog.get(), "listUser"), "user 17,user 34,user 51");
    QVERIFY(!dialog->close());
    if (!report.isEmpty()) {
        EXPECT_CLIENT_BYTES(run.lobby.server, report);
        run.lobby.server.send(replyFrame(Wire().u32(0)));
        QTRY_COMPARE(run.host.roomEventRuns, 1);
        // Polling has stopped: no second report follows.
        QVERIFY(!commandState.wait(350));
    } else {
        QTRY_COMPARE(run.engineLog().size(), 1);
    }
    EXPECT_NOTHING_MORE(run.lobby);

    // The engine ends by itself on the stop order, well within the time it is given; an engine
    // that has already gone does not take the client with it.
    dialog.reset();
    QCOMPARE(run.engineLog(), blocks);
    QCOMPARE(lowestFreeFd(), freeFd);
}

void MatchDialogsTest::startError_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("otherCommand");
    QTest::addColumn<uint>("own");
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, const char* fault, bool other, uint own,
                        const QString& text) {
        QTest::newRow(name) << QString(fault) << other << own
                            << quint32(own == hostNo ? EndBattle : DropBattle) << text;
    };
    const QString notInstalled = "星環演武がインストールされていません。";
    const QString noEngine = "星環演武の起動に失敗しました。\nファイルが見つかりません。\n"
                             "(インストールしたフォルダから手動で移動したりすると発生します)";
    row("no pipes, host", "pipes", false, hostNo, "リソース不足です。");
    row("no folder, guest", "folder", false, guestNo, notInstalled);
    row("empty folder, host", "empty", false, hostNo, notInstalled);
    row("no engine, guest", "engine", false, guestNo, noEngine);
    // The report waits until the connection's one command is free.
    row("no engine while another command is out", "engine", true, hostNo, noEngine);
}

void MatchDialogsTest::startError()
{
    QFETCH(QString, fault);
    QFETCH(bool, otherCommand);
    QFETCH(uint, own);
    QFETCH(quint32, code);
    QFETCH(QString, text);

    MatchRun run;
    OPEN_LOBBY(run.lobby);
    if (otherCommand) {
        otherSocket = &run.lobby.socket;
        otherSocket->beginCommand(this, SLOT(doRecvOtherReply()), &run.owner,
                                  SLOT(setEnabled(bool)));
        otherSocket->writeUInt32(GetName);
        otherSocket->sendCommand();
        EXPECT_CLIENT_BYTES(run.lobby.server, request(GetName, {}));
    }
    if (fault != "engine")
        QVERIFY(run.installEngine("demo"));
    if (fault == "folder")
        machineSettings->remove("SeikanEmbu");
    if (fault == "empty")
        machineSettings->setValue("SeikanEmbu", "");
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
    auto dialog = run.battle(own);
    setrlimit(RLIMIT_NOFILE, &saved);

    // Not from within the constructor, where its event loop would let the main window handle
    // the game's start twice.
    QCOMPARE(box->handled(), 0);
    QCOMPARE(lowestFreeFd(), freeFd);
    if (otherCommand) {
        EXPECT_NOTHING_MORE(run.lobby);
        run.lobby.server.send(replyFrame(Wire().u32(0)));
    }
    EXPECT_CLIENT_BYTES(run.lobby.server, request(code, {roomNo}));
    QTRY_COMPARE(box->handled(), 1);
    COMPARE_BOX(seen, QMessageBox::Information, "対戦状況", text);
    QVERIFY(dialog->isVisible());
    QVERIFY(run.engineLog().isEmpty());
    EXPECT_NOTHING_MORE(run.lobby);
}

void MatchDialogsTest::leavingPlayers_data()
{
    QTest::addColumn<uint>("own");
    QTest::addColumn<uint>("minPlayers");
    QTest::addColumn<QList<uint>>("leaving");
    QTest::addColumn<int>("endsAt");
    QTest::addColumn<QString>("players");

    QTest::newRow("minimum 3: the first leave ends")
        << hostNo << 3u << QList<uint>{guestNo} << 0 << "user 17,user 51";
    QTest::newRow("minimum 2: only the last leave ends")
        << hostNo << 2u << QList<uint>{otherNo, guestNo} << 1 << "user 17";
    QTest::newRow("someone not playing")
        << hostNo << 3u << QList<uint>{0x99} << -1 << "user 17,user 34,user 51";
    QTest::newRow("a guest never ends it")
        << guestNo << guestMinimum << QList<uint>{otherNo, hostNo} << -1 << "user 17,user 34";
}

void MatchDialogsTest::leavingPlayers()
{
    QFETCH(uint, own);
    QFETCH(uint, minPlayers);
    QFETCH(QList<uint>, leaving);
    QFETCH(int, endsAt);
    QFETCH(QString, players);

    MatchRun run;
    OPEN_LOBBY(run.lobby);
    QVERIFY(run.installEngine("demo"));
    auto dialog = run.battle(own, {guestNo, otherNo}, minPlayers);
    for (int i = 0; i < leaving.size(); ++i) {
        QVERIFY(dialog->removeMember(leaving[i]));
        if (i != endsAt)
            continue;
        EXPECT_CLIENT_BYTES(run.lobby.server, request(EndBattle, {roomNo}));
        // While the end is out, a leave waits for its reply.
        QVERIFY(!dialog->isIdle());
        QVERIFY(!dialog->removeMember(otherNo));
        run.lobby.server.send(replyFrame(Wire().u32(0)));
        QTRY_VERIFY(dialog->isIdle());
    }
    QCOMPARE(shownText(dialog.get(), "listUser"), players);
    EXPECT_NOTHING_MORE(run.lobby);
}

QTEST_MAIN(MatchDialogsTest)
#include "tst_matchdialogs.moc"
