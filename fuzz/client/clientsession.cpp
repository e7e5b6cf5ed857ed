// SPDX-License-Identifier: GPL-3.0-or-later
#include "clientsession.h"

#include "connectionrelay.h"
#include "fuzzapplication.h"
#include "fuzzlobby.h"

#include "app/globals.h"
#include "mainwindow/mainwindow.h"
#include "match/chatapplymatchdialog.h"
#include "match/chatrecruitmatchdialog.h"
#include "match/chatwaitmatchdialog.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "lobbywire.h"

#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace
{
constexpr int stepTimeoutMs = 5000;
}

ClientSession::ClientSession(FuzzApplication& app, FuzzLobby& lobby) : app(app), lobby(lobby)
{
    app.startSession();
}

ClientSession::~ClientSession()
{
    app.stopDelivering();
    window.reset();
    relay.reset();
    // Forms not yet shown as tabs, or let go of, have no parent.
    QList<QPointer<QWidget>> orphans;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->parentWidget())
            orphans.append(widget);
    }
    for (const QPointer<QWidget>& orphan : std::as_const(orphans))
        delete orphan.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    lobby.endSession();
    ownUserId = 0;
}

void ClientSession::reach(Stage stage)
{
    lobby.setAnswering(stage != Stage::Hello);
    window = std::make_unique<MainWindow>();
    tabs = window->findChild<QTabWidget*>("tabWidget");
    window->show();
    // The connection starts from the window's first event; its socket gets its first signal
    // only after the server had the hello, later.
    waitFor("the connection", [this] { return window->findChild<QTcpSocket*>() != nullptr; });
    protocolSocket = window->findChild<ProtocolSocket*>();
    connection = window->findChild<QTcpSocket*>();
    relay = std::make_unique<ConnectionRelay>(app, protocolSocket, connection);
    if (stage == Stage::Hello) {
        waitFor("the client's hello", [this] { return lobby.helloReceived(); });
        return;
    }
    logIn();
    if (stage == Stage::RoomWalk) {
        leaveToInput(GetRoomInfo, [this] { QMetaObject::invokeMethod(roomList(), "doUpdate"); });
        return;
    }
    showFirstRoom();
    // The form's first row shows the first room.
    QPushButton* firstRow = roomList()->findChild<QPushButton*>("btnListBase");
    if (stage == Stage::RoomEntry) {
        leaveToInput(EnterRoom, [firstRow] { firstRow->click(); });
        return;
    }
    firstRow->click();
    waitFor("the room's tab", [this] { return room() && window->isEnabled(); });
    switch (stage) {
    case Stage::RecruitAsked:
        leaveToInput(RecruitMatch, [this] { pressBattleButton(); });
        break;
    case Stage::ApplyAsked:
        offerOthersRecruit();
        leaveToInput(ApplyMatch, [this] { pressYes(dialog<ChatApplyMatchDialog>()); });
        break;
    case Stage::StartAsked:
        recruitWithOther();
        leaveToInput(StartBattle, [this] { pressYes(dialog<ChatRecruitMatchDialog>()); });
        break;
    case Stage::InBattle:
        waitAsGuest();
        // Without the game installed the battle is over for this client at once.
        leaveToInput(DropBattle, [this] {
            sendEvent(Event{EventGameStart, FuzzLobby::otherId, 0, "127.0.0.1"});
        });
        break;
    default:
        break;
    }
}

bool ClientSession::answered(quint32 code) const
{
    return lobby.requestCount(code) > 0 && !protocolSocket->isCommandOpen() && window->isEnabled();
}

void ClientSession::pressBattleButton()
{
    room()->findChild<QPushButton*>("pushButtonBattle")->click();
}

void ClientSession::pressYes(QDialog* match)
{
    match->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Yes)->click();
}

void ClientSession::sendEvent(const Event& event)
{
    lobby.send(roomEventFrame(FuzzLobby::roomId, event));
}

// The other member recruits: up to four players, two at least.
void ClientSession::offerOthersRecruit()
{
    sendEvent(Event{EventRecruitStart, FuzzLobby::otherId, 2, QString(), 4});
    waitFor("the offer to apply", [this] { return dialog<ChatApplyMatchDialog>(); });
}

void ClientSession::recruitWithOther()
{
    pressBattleButton();
    waitFor("the recruit's acceptance", [this] { return answered(RecruitMatch); });
    sendEvent(Event{EventRecruitStart, FuzzLobby::ownId, 2, QString(), 4});
    waitFor("the recruiting dialog", [this] { return dialog<ChatRecruitMatchDialog>(); });
    sendEvent(Event{EventApply, FuzzLobby::otherId, FuzzLobby::ownId, QString(), 2});
    waitFor("the start button", [this] {
        return dialog<ChatRecruitMatchDialog>()
            ->findChild<QDialogButtonBox*>("buttonBox")
            ->button(QDialogButtonBox::Yes);
    });
}

void ClientSession::waitAsGuest()
{
    offerOthersRecruit();
    pressYes(dialog<ChatApplyMatchDialog>());
    waitFor("the application's acceptance", [this] { return answered(ApplyMatch); });
    sendEvent(Event{EventApply, FuzzLobby::ownId, FuzzLobby::otherId, QString(), 2});
    waitFor("the waiting dialog", [this] { return dialog<ChatWaitMatchDialog>(); });
}

void ClientSession::logIn()
{
    waitFor("the room list", [this] { return roomList() && window->isEnabled(); });
}

void ClientSession::showFirstRoom()
{
    QMetaObject::invokeMethod(roomList(), "doUpdate");
    // The rows take clicks again a turn after the walk's command has ended.
    waitFor("the walk's end", [this] {
        return answered(GetRoomInfo) && roomList()->findChild<QWidget*>("widgetList")->isEnabled();
    });
}

void ClientSession::leaveToInput(quint32 code, const std::function<void()>& action)
{
    lobby.setAnswering(false);
    action();
    waitFor("the request the input answers", [this, code] { return lobby.requestCount(code) > 0; });
}

void ClientSession::play(const QByteArray& bytes, FuzzLobby::Pace pace, bool hangUp)
{
    lobby.feed(bytes, pace, hangUp);
    int quietPasses = 0;
    for (;;) {
        const quint64 before = app.deliveredEvents();
        runPass();
        // An ended client only finishes the work it had queued: nothing new reaches it.
        const bool quiet =
            app.deliveredEvents() == before && (app.clientExit() || clientTookEverything());
        quietPasses = quiet ? quietPasses + 1 : 0;
        // Two passes in a row: the first may only have queued what the second delivers.
        if (quietPasses < 2)
            continue;
        if (app.clientExit() || !lobby.sendNextFrame())
            return;
        quietPasses = 0;
    }
}

bool ClientSession::clientTookEverything() const
{
    return lobby.takenBy(connection);
}

void ClientSession::waitFor(const char* what, const std::function<bool()>& condition)
{
    const QDeadlineTimer deadline(stepTimeoutMs);
    while (!condition()) {
        if (app.clientExit() || deadline.hasExpired()) {
            std::fprintf(stderr, "fuzz_client: the client never reached %s%s%s\n", what,
                         app.clientExit() ? ", it ended: " : "",
                         app.clientExit() ? qPrintable(app.clientExit()->message) : "");
            std::abort();
        }
        runPass();
    }
}

void ClientSession::runPass()
{
    QCoreApplication::processEvents();
    // The list's refresh tick would start walks of its own whenever an input runs long, so that
    // a replay could take another path: the harness holds it.
    if (!listParked && roomList()) {
        roomList()->findChild<QTimer*>("refreshTimer")->setInterval(24 * 3600 * 1000);
        listParked = true;
    }
}

ChatRoomListForm* ClientSession::roomList() const
{
    const int count = tabs->count();
    return count > 0 ? qobject_cast<ChatRoomListForm*>(tabs->widget(count - 1)) : nullptr;
}

ChatRoomForm* ClientSession::room() const
{
    for (int i = 0; i < tabs->count(); ++i) {
        if (auto* form = qobject_cast<ChatRoomForm*>(tabs->widget(i)))
            return form;
    }
    return nullptr;
}
