// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbyevents.h"

#include <QHash>

class Connection;

// Encodes the lobby's events and sends them to the connections of the users they concern.
// A user is reachable from login until logout, through the connection that logged in.
class Notifier : public LobbyEvents
{
  public:
    void attach(quint32 userId, Connection& connection);
    void detach(quint32 userId);
    Connection* connection(quint32 userId) const { return connections.value(userId); }

    void roomEvent(const QVector<quint32>& members, quint32 skipUserId,
                   const RoomEvent& event) override;
    void systemMessage(const QString& text) override;
    void connectionCount(quint32 count) override;

  private:
    void toEveryone(const QByteArray& frame);

    QHash<quint32, Connection*> connections;
};
