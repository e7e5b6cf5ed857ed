// SPDX-License-Identifier: GPL-3.0-or-later
// Whole matches as the main window runs them: scripted room events from the fake lobby server
// drive the match dialogs, and the battle runs a shell script as its engine from a temporary game
// folder through real pipes.

#include "support/descriptors.h"
#include "support/dialogtesting.h"
#include "support/lobbywindow.h"

#include "app/globals.h"
#include "match/battledialog.h"
#include "match/chatapplymatchdialog.h"
#include "match/chatrecruitmatchdialog.h"
#include "match/chatwaitmatchdialog.h"
#include "rooms/chatroomform.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <sys/resource.h>

namespace
{
constexpr quint32 own = LobbyWindow::ownId;
constexpr quint32 hanako = 5;
constexpr quint32 jiro = 6;
constexpr quint32 gameRoom = 4;
constexpr quint32 otherRoom = 9;
const QString hostAddress = "192.0.2.7:14141";

template <class Request> QByteArray inGame()
{
    return frameBytes(Request{gameRoom});
}

// Logged in, in game room 4 with はなこ and じろう and in room 9, with a game folder named in the
// machine settings.
struct MatchRun : LobbyWindow {
    QTemporaryDir game;

    // The engine copies its order pipe (named by its first argument) into "orders", and ignores
    // the stop order: it has to be killed.
    bool open()
    {
        RoomInfo info;
        info.gameId = 0;
        if (!loggedIn() ||
            !openRoom(gameRoom, info, {{own, "たろう"}, {hanako, "はなこ"}, {jiro, "じろう"}}) ||
            !openRoom(otherRoom, info, {}))
            return false;
        // Only now: the version check at login would look for the game's files.
        machineSettings->setValue("SeikanEmbu", game.path());
        QFile file(game.filePath("engine.exe"));
        const QString script = "#!/bin/sh\nexec cat </dev/fd/$1 >'%1/orders'\n";
        return file.open(QIODevice::WriteOnly) &&
               file.write(script.arg(game.path()).toUtf8()) > 0 &&
               file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
    QByteArray engineRead() const
    {
        QFile file(game.filePath("orders"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toHex() : QByteArray();
    }
    void send(const QList<Event>& events)
    {
        for (const Event& event : events)
            server.send(roomEventFrame(gameRoom, event));
    }
    void reply(quint32 result) { server.send(frameBytes(ResultReply{result})); }
    // Waits for the only match dialog of a kind that the window shows; null if none or more do.
    template <class Dialog> Dialog* waitFor() const
    {
        const auto only = [this]() -> Dialog* {
            QList<Dialog*> visible = window->findChildren<Dialog*>();
            visible.removeIf([](const Dialog* dialog) { return !dialog->isVisible(); });
            return visible.size() == 1 ? visible.first() : nullptr;
        };
        return QTest::qWaitFor(only) ? only() : nullptr;
    }

    // はなこ's recruit with own as guest, or own's with her: the game starts.
    BattleDialog* startBattle(quint32 host)
    {
        const quint32 guest = host == own ? hanako : own;
        send({{EventRecruitStart, host, 2, "", 4},
              {EventApply, guest, host, "", 2},
              {EventGameStart, host, 0, host == own ? "" : hostAddress}});
        return waitFor<BattleDialog>();
    }

    // The own recruit with its minimum reached, はなこ's offer, or the wait for her game.
    QDialog* openDialog(const QString& kind)
    {
        send({{EventRecruitStart, kind == "recruit" ? own : hanako, 1, "", 4}});
        if (kind == "recruit")
            return waitFor<ChatRecruitMatchDialog>();
        if (kind == "apply")
            return waitFor<ChatApplyMatchDialog>();
        send({{EventApply, own, hanako, "", 2}});
        return waitFor<ChatWaitMatchDialog>();
    }
};

// The dialog, what ends it, the request, the refusing result and the box's text.
using CommandRow = std::tuple<QString, QString, QByteArray, quint32, QString>;
} // namespace

class MatchesTest : public QObject
{
    Q_OBJECT

  private slots:
    // From the battle button to the game's end, with an engine that ignores the stop order.
    void hostMatch()
    {
        MatchRun run;
        VERIFY_STEP(run, open());
        child<QPushButton>(run.room(gameRoom), "pushButtonBattle")->click();
        EXPECT_CLIENT_BYTES(run.server, inGame<RecruitMatchRequest>());
        run.reply(0);
        run.send({{EventRecruitStart, own, 2, "", 4},
                  {EventApply, hanako, own, "", 2},
                  {EventApply, jiro, own, "", 3},
                  {EventGameStart, own}});
        QPointer<BattleDialog> battle = run.waitFor<BattleDialog>();
        QCOMPARE(itemTexts(battle, "listUser"), (QStringList{"たろう", "はなこ", "じろう"}));

        // The host counts as one of the minimum of 2: only the last guest's leave ends the match.
        auto* log = child<QPlainTextEdit>(run.room(gameRoom), "textLog");
        run.send({{EventGameLeave, jiro, own}, {EventSpeak, hanako, 0, "dealt with"}});
        QTRY_VERIFY(log->toPlainText().endsWith("dealt with"));
        QCOMPARE(itemTexts(battle, "listUser"), (QStringList{"たろう", "はなこ"}));
        EXPECT_NOTHING_MORE(run);
        run.send({{EventGameLeave, hanako, own}});
        EXPECT_CLIENT_BYTES(run.server, inGame<EndBattleRequest>());
        // The game's end waits while a command is out, and is taken up again when it ends.
        QSignalSpy notified(run.socket(), &ProtocolSocket::recvNotify);
        run.send({{EventGameEnd, own}});
        QVERIFY(notified.wait());
        QCoreApplication::processEvents();
        QVERIFY(battle);
        QElapsedTimer timer;
        timer.start();
        run.reply(0);
        // The stop order goes out once; the engine has a second to end, then is killed.
        QTRY_VERIFY(!battle);
        QVERIFY(timer.elapsed() >= 1000 && timer.elapsed() < 5000);
        QCOMPARE(run.engineRead(), engineBlockHex(1) + engineBlockHex(0));
        EXPECT_NOTHING_MORE(run);
    }

    void commands_data()
    {
        QTest::addColumn<CommandRow>("row");
        const auto row = [](const char* name, const char* kind, const char* trigger,
                            const QByteArray& sent, quint32 result, const QString& refusal) {
            QTest::newRow(name) << CommandRow{kind, trigger, sent, result, refusal};
        };
        row("start refused", "recruit", "Yes", inGame<StartBattleRequest>(), 1,
            "ゲームの開始に失敗しました。");
        row("recruit cancel by close refused", "recruit", "close", inGame<CancelRecruitRequest>(),
            2, "対戦相手募集のキャンセルに失敗しました。");
        row("application refused", "apply", "Yes", frameBytes(ApplyMatchRequest{gameRoom, hanako}),
            7, "対戦の応募に失敗しました。\nすでに満席です。");
        row("withdrawal by Escape refused", "wait", "Escape", inGame<CancelApplyRequest>(), 1,
            "対戦の募集への応募をキャンセルするのに失敗しました。");
    }

    // What the buttons, the title-bar button and Escape send from a match dialog, and how the
    // dialog ends: the refusal shows a box. (A leave ends every kind of match: tst_lobbycore.)
    void commands()
    {
        QFETCH(CommandRow, row);
        const auto& [kind, trigger, sent, result, refusal] = row;
        MatchRun run;
        VERIFY_STEP(run, open());
        QPointer<QDialog> dialog = run.openDialog(kind);
        QVERIFY(dialog);
        const auto* otherBattle = child<QPushButton>(run.room(otherRoom), "pushButtonBattle");
        QTRY_COMPARE(otherBattle->isEnabledTo(run.window.get()), kind == "apply");
        if (trigger == "Escape")
            QTest::keyClick(dialog, Qt::Key_Escape);
        else if (trigger == "close")
            dialog->close();
        else
            press(dialog, QDialogButtonBox::Yes);
        EXPECT_CLIENT_BYTES(run.server, sent);
        // While the command is out, closing the dialog sends nothing.
        QTRY_VERIFY(!dialog->isEnabled());
        dialog->close();
        EXPECT_NOTHING_MORE(run);
        QVERIFY(dialog->isVisible());
        // Everything but the box follows from the server's events, not from the reply. The window
        // may take the dialog down while its box is up: the box goes with it.
        Modals modals([&](QWidget* box) {
            run.send({{EventRecruitCancel, kind == "recruit" ? own : hanako}});
            QVERIFY(QTest::qWaitFor([box = QPointer<QWidget>(box)] { return !box; }));
        });
        run.reply(result);
        QTRY_VERIFY(!dialog && run.window->isEnabled() && !run.socket()->isCommandOpen());
        QVERIFY(otherBattle->isEnabledTo(run.window.get()));
        QCOMPARE(modals.seen,
                 QStringList{boxText(QMessageBox::Information, "対戦マッチング", refusal)});
        EXPECT_NOTHING_MORE(run);
    }

    void startError_data()
    {
        QTest::addColumn<quint32>("host");
        QTest::addColumn<QString>("text");
        // Room for the engine's input pipe at most: its output pipe cannot be made.
        QTest::newRow("no pipes, host") << own << "リソース不足です。";
        QTest::newRow("no engine, guest")
            << hanako
            << "星環演武の起動に失敗しました。\nファイルが見つかりません。\n"
               "(インストールしたフォルダから手動で移動したりすると発生します)";
    }

    void startError()
    {
        QFETCH(quint32, host);
        QFETCH(QString, text);
        const bool guest = host != own;
        MatchRun run;
        VERIFY_STEP(run, open());
        if (guest)
            QVERIFY(QFile::remove(run.game.filePath("engine.exe")));
        const int freeFd = lowestFreeFd();
        rlimit saved = {};
        getrlimit(RLIMIT_NOFILE, &saved);
        const rlimit tight = {guest ? saved.rlim_cur : rlim_t(freeFd + 2), saved.rlim_max};
        setrlimit(RLIMIT_NOFILE, &tight);
        Modals modals;
        QPointer<BattleDialog> battle = run.startBattle(host);
        setrlimit(RLIMIT_NOFILE, &saved);
        QCOMPARE(lowestFreeFd(), freeFd);
        EXPECT_CLIENT_BYTES(run.server,
                            guest ? inGame<DropBattleRequest>() : inGame<EndBattleRequest>());
        // A room entered in the same turn waits for the connection.
        run.window->lobby().addRoomRequest(12, new QVector<uint>);
        QTRY_COMPARE(modals.seen, QStringList{boxText(QMessageBox::Information, "対戦状況", text)});
        // The reply runs the event queue again, while the game's start is long done with.
        run.reply(0);
        QVERIFY2(run.serveRoom(12, {}, {}), qPrintable(run.server.failure()));
        QVERIFY(battle);
        // A leave after the end must not end the match a second time.
        run.send({{EventGameLeave, guest ? own : hanako, host}, {EventSpeak, hanako, 0, "dealt"}});
        QTRY_VERIFY(
            child<QPlainTextEdit>(run.room(gameRoom), "textLog")->toPlainText().endsWith("dealt"));
        EXPECT_NOTHING_MORE(run);
    }
};

QTEST_MAIN(MatchesTest)
#include "tst_matches.moc"
