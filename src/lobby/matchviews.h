// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class LobbyRoom;
struct Recruitment;

// A window of the local user's recruit or wait, or of an offer. The router deletes it when the
// server ends what it shows.
class MatchView
{
  public:
    virtual ~MatchView() = default;
    virtual void setParticipantCount(uint count) = 0;
};

// An offer to join another user's recruit. One the user declined goes with closeLater: the
// answer comes from the window's own button.
class OfferView : public MatchView
{
  public:
    virtual void closeLater() = 0;
};

// The window beside a running match, which runs the game's engine.
class BattleView
{
  public:
    virtual ~BattleView() = default;
    // False while a command is out: the router asks again later.
    virtual bool removeMember(uint userId) = 0;
    // True when no command is out, so that the window may be deleted.
    virtual bool isIdle() const = 0;
};

// Opens the windows the router decides on; the router owns what it gets.
class MatchViews
{
  public:
    virtual ~MatchViews() = default;
    virtual MatchView* openRecruit(const LobbyRoom& room, uint roomId, uint minPlayers,
                                   uint maxPlayers) = 0;
    virtual OfferView* openOffer(uint roomId, uint hostId, const QString& hostName,
                                 uint maxPlayers) = 0;
    virtual MatchView* openWait(uint roomId, uint hostId, const QString& hostName, uint maxPlayers,
                                uint participantCount) = 0;
    // minPlayers is the recruit's minimum on the host's client and all bits set on a guest's.
    virtual BattleView* openBattle(const LobbyRoom& room, uint roomId,
                                   const Recruitment& recruitment, uint minPlayers,
                                   const QString& hostAddress) = 0;
};
