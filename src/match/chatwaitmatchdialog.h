#pragma once

#include <QDialog>

class ProtocolSocket;

namespace Ui
{
class ChatWaitMatchDialog;
}

// Shown to a guest whose application was taken, until the host starts the game or the wait
// ends; Cancel withdraws the application. The main window creates, updates and deletes it as the
// server reports the recruit.
class ChatWaitMatchDialog : public QDialog
{
    Q_OBJECT

  public:
    ChatWaitMatchDialog(QWidget* parent, ProtocolSocket* socket, uint roomId, uint hostId,
                        const QString& hostName, uint maxPlayers, uint participantCount);
    ~ChatWaitMatchDialog() override;

    void setParticipantCount(uint count);

    // Read by the main window, which finds the dialog by room and host.
    const uint roomId;
    const uint hostId;

  public slots:
    // Escape goes the way of the title-bar button.
    void reject() override;

  private slots:
    void on_buttonBox_rejected();
    void doRecvCancelReply();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void showHost();

    Ui::ChatWaitMatchDialog* ui;
    ProtocolSocket* socket;
    uint maxPlayers;
    uint participantCount = 0;
};
