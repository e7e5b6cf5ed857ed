// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbywire.h"

#include <QString>
#include <QVector>

struct RoomEvent {
    RoomEventKind kind;
    quint32 roomId;
    quint32 userId;
    quint32 otherId;
    quint32 value;
    QString text;
};

// What the lobby has to tell its users. The lobby decides who hears what; how it reaches them
// is the business of the side that holds their connections.
class LobbyEvents
{
  public:
    virtual ~LobbyEvents() = default;

    // To each of the members but skipUserId (0: to all of them). One event reaches a whole
    // room, so it is encoded once for every member.
    virtual void roomEvent(const QVector<quint32>& members, quint32 skipUserId,
                           const RoomEvent& event) = 0;
    // To every user in the lobby.
    virtual void systemMessage(const QString& text) = 0;
    virtual void connectionCount(quint32 count) = 0;
};
