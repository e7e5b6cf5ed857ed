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
Q_DECLARE_METATYPE(RoomInfo)
