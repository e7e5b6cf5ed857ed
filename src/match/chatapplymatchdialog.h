#pragma once

#include <QDialog>

class ProtocolSocket;

namespace Ui
{
class ChatApplyMatchDialog;
}

// An offer to join another user's recruit: Yes applies, No drops the offer without telling the
// server. The main window creates, updates and deletes it as the server reports the recruit.
class ChatApplyMatchDialog : public QDialog
{
    Q_OBJECT

  public:
    ChatApplyMatchDialog(QWidget* parent, ProtocolSocket* socket, uint roomId, uint hostId,
                         const QString& hostName, uint maxPlayers);
    ~ChatApplyMatchDialog() override;

    void setParticipantCount(uint count);

    // Read by the main window, which finds the dialog by room and host and builds the waiting
    // dialog from it.
    const uint roomId;
    const uint hostId;
    const QString hostName;
    const uint maxPlayers;

  public slots:
    // Escape goes the way of the title-bar button.
    void reject() override;

  private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void doRecvApplyReply();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void showHost();

    Ui::ChatApplyMatchDialog* ui;
    ProtocolSocket* socket;
    uint participantCount = 0;
};
