#pragma once

#include "lobbymessages.h"
#include "support/wire.h"

// The lobby requests and answers that several suites script. The answers whose layouts the wire
// library defines are built by it; tst_protocolsocket pins their bytes.

inline QByteArray request(quint32 code, const QByteArray& fields = {})
{
    return frame(Wire().u32(code).raw(fields));
}

inline QByteArray authenticateRequest(const QString& account, const QString& password)
{
    return request(Authenticate, Wire().str(account).str(password));
}

inline QByteArray authenticateReply(quint32 result, quint32 userId, quint32 count,
                                    const QString& message)
{
    return frameBytes(LoginReply{result, userId, count, message});
}

inline QByteArray getNameRequest(quint32 userId)
{
    return request(GetName, Wire().u32(userId));
}

inline QByteArray nameReply(quint32 result, const QString& name)
{
    return replyFrame(Wire().u32(result).str(name));
}

inline QByteArray getRoomInfoRequest(quint32 roomId)
{
    return request(GetRoomInfo, Wire().u32(roomId));
}

// One GetRoomInfo answer; a room that exists unless status says otherwise.
struct RoomInfo {
    QString title;
    quint32 userCount = 1, capacity = 8, gameId = chatOnlyGameId, flags = 0, nextRoomId = noRoom;
    quint32 status = 0;
};

inline QByteArray roomInfoReply(const RoomInfo& info)
{
    return frameBytes(RoomInfoReply{info.status, info.flags, info.title, info.userCount,
                                    info.capacity, info.gameId, info.nextRoomId});
}

// A room event; fields a kind does not use stay 0.
struct Event {
    quint32 kind, userId, otherId = 0;
    QString text = {};
    quint32 value = 0;
};

inline QByteArray roomEventFrame(quint32 roomId, const Event& event)
{
    const QByteArray text = event.text.toUtf8();
    return frameBytes(
        RoomEventFields{event.kind, roomId, event.userId, event.otherId, event.value, 0, text});
}
