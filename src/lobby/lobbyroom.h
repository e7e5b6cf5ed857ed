// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

struct Recruitment;

// An entered room as the lobby's router sees it: who is in it, which recruits run there, and
// the handlers that take its events. Each handler writes the room's line and returns true, or
// returns false and does nothing while the room is still loading.
class LobbyRoom
{
  public:
    virtual ~LobbyRoom() = default;

    virtual bool isLoading() const = 0;
    virtual QString roomTitle() const = 0;
    virtual uint roomGameId() const = 0;
    virtual QString userName(uint userId) const = 0;
    virtual bool isRecruitmentMember(uint hostId, uint userId) const = 0;
    // Only for a host that isRecruitmentMember has confirmed.
    virtual Recruitment& findRecruitment(uint hostId) = 0;
    virtual void setBattleEnabled(bool on) = 0;

    virtual bool handleSpeak(uint userId, const QString& text) = 0;
    virtual bool handleEnter(uint userId, const QString& name) = 0;
    virtual bool handleLeave(uint userId) = 0;
    virtual bool handleRecruitStart(uint hostId) = 0;
    virtual bool handleRecruitCancel(uint hostId) = 0;
    virtual bool handleApply(uint hostId, uint applicantId) = 0;
    virtual bool handleApplyCancel(uint hostId, uint applicantId) = 0;
    virtual bool handleGameStart(uint hostId) = 0;
    virtual bool handleGameEnd(uint hostId) = 0;
    virtual bool handleGameLeave(uint hostId, uint leaverId) = 0;
};
