#pragma once

#include "lobbywire.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

// The lobby requests and answers that several suites script, built with Wire.

QByteArray authenticateRequest(const QString& account, const QString& password);
QByteArray authenticateReply(quint32 result, quint32 userId, quint32 connectionCount,
                             const QString& message);
QByteArray getNameRequest(quint32 userId);
QByteArray nameReply(quint32 result, const QString& name);
QByteArray getCountRequest();
QByteArray countReply(quint32 roomCount);
QByteArray getRoomInfoRequest(quint32 roomId);

// One GetRoomInfo answer; a room that exists unless status says otherwise.
struct RoomInfo {
    QString title;
    quint32 userCount = 1;
    quint32 capacity = 8;
    quint32 gameId = chatOnlyGameId;
    quint32 flags = 0;
    quint32 nextRoomId = noRoom;
    quint32 status = 0;
};
QByteArray roomInfoReply(const RoomInfo& info);

// A room event notification; fields a kind does not use may stay 0.
struct Event {
    quint32 kind;
    quint32 userId;
    quint32 otherId = 0;
    QString text = QString();
    quint32 value = 0;
};
QByteArray roomEventFrame(quint32 roomId, const Event& event);
Q_DECLARE_METATYPE(RoomInfo)
Q_DECLARE_METATYPE(Event)
