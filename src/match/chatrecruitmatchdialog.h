#pragma once

#include <QDialog>

class ProtocolSocket;

namespace Ui
{
class ChatRecruitMatchDialog;
}

// The host's window while opponents are recruited in a room: how many have gathered, and the
// buttons to start the game once enough have, or to call the recruit off. The main window
// creates, updates and deletes it as the server reports the recruit; its buttons only ask.
class ChatRecruitMatchDialog : public QDialog
{
    Q_OBJECT

  public:
    ChatRecruitMatchDialog(QWidget* parent, ProtocolSocket* socket, uint roomId, uint hostId,
                           uint minPlayers, uint maxPlayers);
    ~ChatRecruitMatchDialog() override;

    void setParticipantCount(uint count);

    // Read by the main window, which finds the dialog by room and host.
    const uint roomId;
    const uint hostId;
    const uint minPlayers;

  public slots:
    // Escape goes the way of the title-bar button.
    void reject() override;

  private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void doRecvStartBattleReply();
    void doRecvCancelReply();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void showRoomNumber();

    Ui::ChatRecruitMatchDialog* ui;
    ProtocolSocket* socket;
    uint maxPlayers;
    uint participantCount = 0;
};
