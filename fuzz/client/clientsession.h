// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fuzzlobby.h"

#include "mainwindow/mainwindow.h"
#include "support/lobbyframes.h"

#include <QByteArray>

#include <functional>
#include <memory>

class ChatRoomForm;
class ConnectionRelay;
class ChatRoomListForm;
class FuzzApplication;
class QDialog;
class QTabWidget;
class QTcpSocket;

// Where the client stands when an input's bytes begin to arrive.
enum class Stage {
    // Connected and its hello sent: the input answers the hello and the login.
    Hello,
    // Logged in, the room list asked for its first room.
    RoomWalk,
    // The list shows the room and the user asked to enter it.
    RoomEntry,
    // The room is open as a tab.
    InRoom,
    // In the room, the user pressed the battle button.
    RecruitAsked,
    // The other member recruits, and the user applied.
    ApplyAsked,
    // The user recruits, the other member applied, and the user asked to start.
    StartAsked,
    // A battle as the other member's guest. The game is not installed, so the battle dialog has
    // asked to drop out at once.
    InBattle,
};
constexpr int stageCount = 8;

// One run of the real main window for one input: logged in to the scripted lobby and brought to
// the input's stage, then fed the input as the server's bytes. The window and everything it
// left behind go with the session.
class ClientSession
{
  public:
    ClientSession(FuzzApplication& app, FuzzLobby& lobby);
    ~ClientSession();

    void reach(Stage stage);
    // Sends the bytes at the given pace and runs the client until it took all of them, or
    // ended, and has nothing left to do.
    void play(const QByteArray& bytes, FuzzLobby::Pace pace, bool hangUp);

  private:
    void logIn();
    void showFirstRoom();
    // The client sent a request of this code, had its reply and has no command out.
    bool answered(quint32 code) const;
    void pressBattleButton();
    void pressYes(QDialog* match);
    void sendEvent(const Event& event);
    void offerOthersRecruit();
    void recruitWithOther();
    void waitAsGuest();
    // The match dialog of this type the window shows, if any.
    template <class Dialog> Dialog* dialog() const { return window->findChild<Dialog*>(); }
    // Stops answering, then does what makes the client send the request of this code.
    void leaveToInput(quint32 code, const std::function<void()>& action);
    // Runs the event loop until the condition holds. The way there is scripted with valid
    // replies, so a client that ends or never gets there is a fault of the harness or the client.
    void waitFor(const char* what, const std::function<bool()>& condition);
    // One event loop pass.
    void runPass();
    bool clientTookEverything() const;
    ChatRoomListForm* roomList() const;
    ChatRoomForm* room() const;

    FuzzApplication& app;
    FuzzLobby& lobby;
    std::unique_ptr<MainWindow> window;
    QTabWidget* tabs = nullptr;
    // The client's connection: its ProtocolSocket and the QTcpSocket under it.
    ProtocolSocket* protocolSocket = nullptr;
    QTcpSocket* connection = nullptr;
    std::unique_ptr<ConnectionRelay> relay;
    bool listParked = false;
};
