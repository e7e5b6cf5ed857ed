// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier.h"

#include "connection.h"
#include "lobbymessages.h"

void Notifier::attach(quint32 userId, Connection& connection)
{
    connections.insert(userId, &connection);
}

void Notifier::detach(quint32 userId)
{
    connections.remove(userId);
}

void Notifier::roomEvent(const QVector<quint32>& members, quint32 skipUserId,
                         const RoomEvent& event)
{
    const QByteArray text = event.text.toUtf8();
    const QByteArray frame = frameBytes(RoomEventFields{event.kind, event.roomId, event.userId,
                                                        event.otherId, event.value, 0, text});
    for (quint32 member : members) {
        if (member != skipUserId)
            connections.value(member)->sendNotification(frame);
    }
}

void Notifier::systemMessage(const QString& text)
{
    toEveryone(frameBytes(SystemMessageNotification{text}));
}

void Notifier::connectionCount(quint32 count)
{
    toEveryone(frameBytes(ConnectionCountNotification{count}));
}

void Notifier::toEveryone(const QByteArray& frame)
{
    for (Connection* connection : std::as_const(connections))
        connection->sendNotification(frame);
}
