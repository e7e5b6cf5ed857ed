#pragma once

#include "protocol/protocolsocket.h"

#include <QMainWindow>

class BattleDialog;
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

    Ui::MainWindow* ui;
    ProtocolSocket* socket = nullptr;
    // The local user's match, at most one of the three: while one exists no other may start.
    ChatRecruitMatchDialog* recruitDialog = nullptr;
    ChatWaitMatchDialog* waitDialog = nullptr;
    BattleDialog* battleDialog = nullptr;
    QString ownNameText;
    quint32 connectionCount = 0;
    QSoundEffect* bell;
    ChildProcess* upnpProcess = nullptr;
    bool portMapRequested = false;
};

// Whether a room tab shows roomId, for the room list.
bool isRoomOpen(uint roomId);
