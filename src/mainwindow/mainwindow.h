// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/lobbycore.h"

#include <QMainWindow>
#include <QVector>

class BatchedLog;
class ChatRoomForm;
class ChatRoomListForm;
class MatchDialogs;
class QSoundEffect;
struct ChildProcess;

namespace Ui
{
class MainWindow;
}

// The program's one window: it maps the game's port, then presents the lobby core's run from
// the connection and login to the end of the connection as the room list, the room tabs and the
// match dialogs.
class MainWindow : public QMainWindow
{
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    LobbyCore& lobby() const { return *core; }
    void playBell();
    void appendAllRoomsLog(uint roomId, const QString& text);
    void removeRoomTab(ChatRoomForm* form);

  signals:
    void started();

  protected slots:
    void doSocketClosed(ProtocolSocket::CloseReason cr);
    void doCheckUpnp();
    void doStart();
    void doSocketConnected();
    void doLoginRefused();
    void doNameMissing();
    void doNamed();
    void doChatRoomListCreated(ChatRoomListForm* form);
    void doAddRoomRequest(uint roomId, QVector<uint>* userIds);
    void doChatCreated(ChatRoomForm* form, uint roomId);
    void on_action_S_triggered();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void startPortMapping();
    void askForAccount(bool evenIfStored);
    ChatRoomListForm* roomList() const;

    Ui::MainWindow* ui;
    LobbyCore* core;
    MatchDialogs* matchDialogs;
    BatchedLog* allRoomsLog;
    QSoundEffect* bell = nullptr;
    ChildProcess* upnpProcess = nullptr;
    bool portMapRequested = false;
};
