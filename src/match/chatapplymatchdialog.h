// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/matchviews.h"

#include <QDialog>

class MatchCommands;

namespace Ui
{
class ChatApplyMatchDialog;
}

// An offer to join another user's recruit: Yes applies, No drops the offer without telling the
// server. The lobby's router creates, updates and deletes it as the server reports the recruit.
class ChatApplyMatchDialog : public QDialog, public OfferView
{
    Q_OBJECT

  public:
    ChatApplyMatchDialog(QWidget* parent, MatchCommands& commands, uint roomId, uint hostId,
                         const QString& hostName, uint maxPlayers);
    ~ChatApplyMatchDialog() override;

    void setParticipantCount(uint count) override;
    void closeLater() override;

  signals:
    // The user said No; the router drops the offer.
    void declined(ChatApplyMatchDialog* dialog);

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
    void showHost();

    Ui::ChatApplyMatchDialog* ui;
    MatchCommands& commands;
    const uint roomId;
    const uint hostId;
    const uint maxPlayers;
    uint participantCount = 0;
};
