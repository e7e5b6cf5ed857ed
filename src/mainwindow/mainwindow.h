#pragma once

#include "protocol/protocolsocket.h"

#include <QMainWindow>

class ChatRoomListForm;
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

    void playBell();
    void setOwnName(const QString& name);
    QString ownName() const { return ownNameText; }
    void appendAllRoomsLog(uint roomId, const QString& text);

  signals:
    void started();

  protected slots:
    void doSocketClosed(ProtocolSocket::CloseReason cr);
    void doCheckUpnp();
    void doStart();
    void doSocketConnected();
    void doSocketRecvAuthenticateReply();
    void doSocketRecvCheckNameReply();
    void doChatRoomListCreated(ChatRoomListForm* form);
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

    Ui::MainWindow* ui;
    ProtocolSocket* socket = nullptr;
    QString ownNameText;
    quint32 connectionCount = 0;
    QSoundEffect* bell;
    ChildProcess* upnpProcess = nullptr;
    bool portMapRequested = false;
};
