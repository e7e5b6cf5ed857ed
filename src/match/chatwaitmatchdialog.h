// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/matchviews.h"

#include <QDialog>

class MatchCommands;

namespace Ui
{
class ChatWaitMatchDialog;
}

// Shown to a guest whose application was taken, until the host starts the game or the wait
// ends; Cancel withdraws the application. The lobby's router creates, updates and deletes it as
// the server reports the recruit.
class ChatWaitMatchDialog : public QDialog, public MatchView
{
    Q_OBJECT

  public:
    ChatWaitMatchDialog(QWidget* parent, MatchCommands& commands, uint roomId, uint hostId,
                        const QString& hostName, uint maxPlayers, uint participantCount);
    ~ChatWaitMatchDialog() override;

    void setParticipantCount(uint count) override;

  public slots:
    // Escape goes the way of the title-bar button.
    void reject() override;

  private slots:
    void on_buttonBox_rejected();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void showHost();

    Ui::ChatWaitMatchDialog* ui;
    MatchCommands& commands;
    const uint roomId;
    const uint hostId;
    uint maxPlayers;
    uint participantCount = 0;
};
