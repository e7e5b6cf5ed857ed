#pragma once

#include "mainwindow/roomevent.h"
#include "protocol/protocolsocket.h"

#include <QList>
#include <QVector>

#include <functional>
#include <QMainWindow>

class BattleDialog;
class BatchedLog;
class ChatApplyMatchDialog;
class ChatRecruitMatchDialog;
class ChatRoomForm;
class ChatRoomListForm;
class ChatWaitMatchDialog;
class QSoundEffect;
struct ChildProcess;

namespace Ui
{
class MainWindow;
}

// The program's one window: it drives the run from the connection and login to the end of the
// connection, and owns the socket and the tabs.
class MainWindow : public QMainWindow
{
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    bool canStartMatch() const;
    void playBell();
    bool hasRoomTab(uint roomId) const;
    QString roomTitle(uint roomId) const;
    uint roomGameId(uint roomId) const;
    // Takes the room's member list (heap-allocated) on to the room's new tab.
    void addRoomRequest(uint roomId, QVector<uint>* userIds);
    void setOwnName(const QString& name);
    QString ownName() const { return ownNameText; }
    void appendAllRoomsLog(uint roomId, const QString& text);
    void removeRoomTab(ChatRoomForm* form);
    // Drops an offer the user declined; nothing happens for one the window no longer holds.
    void removeApplyDialog(ChatApplyMatchDialog* dialog);
    void runRoomEvents();

  signals:
    void started();
    void addRoomRequested(uint roomId, QVector<uint>* userIds);

  protected slots:
    void doSocketClosed(ProtocolSocket::CloseReason cr);
    void doCheckUpnp();
    void doStart();
    void doSocketConnected();
    void doSocketRecvAuthenticateReply();
    void doSocketRecvCheckNameReply();
    void doChatRoomListCreated(ChatRoomListForm* form);
    void doAddRoomRequest(uint roomId, QVector<uint>* userIds);
    void doChatCreated(ChatRoomForm* form, uint roomId);
    void doSocketRecvNotify();
    void on_action_S_triggered();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void startPortMapping();
    void askForAccount(bool evenIfStored);
    void sendAuthenticate();
    void sendGetOwnName();
    void loadRoomList();
    ChatRoomListForm* roomList() const;
    ChatRoomForm* roomForm(uint roomId) const;
    RoomEvent* readRoomEvent();
    bool routeRoomEvent(ChatRoomForm& form, const RoomEvent& event);

    // One route per event kind. The room's handler goes first (it writes the room's line), the
    // match dialogs of the event follow it; false holds the event at the head of the queue.
    bool routeSpeak(ChatRoomForm& form, const RoomEvent& event);
    bool routeEnter(ChatRoomForm& form, const RoomEvent& event);
    bool routeLeave(ChatRoomForm& form, const RoomEvent& event);
    bool routeRecruitStart(ChatRoomForm& form, const RoomEvent& event);
    bool routeRecruitCancel(ChatRoomForm& form, const RoomEvent& event);
    bool routeApply(ChatRoomForm& form, const RoomEvent& event);
    bool routeApplyCancel(ChatRoomForm& form, const RoomEvent& event);
    bool routeGameStart(ChatRoomForm& form, const RoomEvent& event);
    bool routeGameEnd(ChatRoomForm& form, const RoomEvent& event);
    bool routeGameLeave(ChatRoomForm& form, const RoomEvent& event);
    void setBattleEnabledOnRoomTabs(bool on);
    void removeApplyDialogs(const std::function<bool(const ChatApplyMatchDialog*)>& which);

    Ui::MainWindow* ui;
    ProtocolSocket* socket = nullptr;
    QList<RoomEvent*> roomEvents;
    bool runningRoomEvents = false;
    // The local user's match, at most one of the three: while one exists no other may start.
    ChatRecruitMatchDialog* recruitDialog = nullptr;
    ChatWaitMatchDialog* waitDialog = nullptr;
    BattleDialog* battleDialog = nullptr;
    // Offers to join other users' recruits, in the order they came.
    QVector<ChatApplyMatchDialog*> applyDialogs;
    QString ownNameText;
    BatchedLog* allRoomsLog;
    quint32 connectionCount = 0;
    QSoundEffect* bell;
    ChildProcess* upnpProcess = nullptr;
    bool portMapRequested = false;
};

// Whether a room tab shows roomId, for the room list.
bool isRoomOpen(uint roomId);
