// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/matchviews.h"

class LobbyCore;
class QWidget;

// Opens the lobby router's match windows as dialogs over the main window.
class MatchDialogs : public MatchViews
{
  public:
    MatchDialogs(QWidget* parent, LobbyCore& core) : parent(parent), core(core) {}

    MatchView* openRecruit(const LobbyRoom& room, uint roomId, uint minPlayers,
                           uint maxPlayers) override;
    OfferView* openOffer(uint roomId, uint hostId, const QString& hostName,
                         uint maxPlayers) override;
    MatchView* openWait(uint roomId, uint hostId, const QString& hostName, uint maxPlayers,
                        uint participantCount) override;
    BattleView* openBattle(const LobbyRoom& room, uint roomId, const Recruitment& recruitment,
                           uint minPlayers, const QString& hostAddress) override;

  private:
    QWidget* parent;
    LobbyCore& core;
};
