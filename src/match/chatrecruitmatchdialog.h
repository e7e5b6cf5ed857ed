// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/matchviews.h"

#include <QDialog>

class MatchCommands;

namespace Ui
{
class ChatRecruitMatchDialog;
}

// The host's window while opponents are recruited in a room: how many have gathered, and the
// buttons to start the game once enough have, or to call the recruit off. The lobby's router
// creates, updates and deletes it as the server reports the recruit; its buttons only ask.
class ChatRecruitMatchDialog : public QDialog, public MatchView
{
    Q_OBJECT

  public:
    ChatRecruitMatchDialog(QWidget* parent, MatchCommands& commands, const LobbyRoom& room,
                           uint roomId, uint minPlayers, uint maxPlayers);
    ~ChatRecruitMatchDialog() override;

    void setParticipantCount(uint count) override;

  public slots:
    // Escape goes the way of the title-bar button.
    void reject() override;

  private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void showRoomNumber();

    Ui::ChatRecruitMatchDialog* ui;
    MatchCommands& commands;
    const uint roomId;
    const uint minPlayers;
    const uint maxPlayers;
    uint participantCount = 0;
};
