#include "support/lobbyframes.h"

#include "support/wire.h"

QByteArray authenticateRequest(const QString& account, const QString& password)
{
    return frame(Wire().u32(Authenticate).str(account).str(password));
}

QByteArray authenticateReply(quint32 result, quint32 userId, quint32 connectionCount,
                             const QString& message)
{
    return replyFrame(Wire().u32(result).u32(userId).u32(connectionCount).str(message));
}

QByteArray getNameRequest(quint32 userId)
{
    return frame(Wire().u32(GetName).u32(userId));
}

QByteArray nameReply(quint32 result, const QString& name)
{
    return replyFrame(Wire().u32(result).str(name));
}

QByteArray getCountRequest()
{
    return frame(Wire().u32(GetCount));
}

QByteArray countReply(quint32 roomCount)
{
    return replyFrame(Wire().u32(roomCount));
}

QByteArray getRoomInfoRequest(quint32 roomId)
{
    return frame(Wire().u32(GetRoomInfo).u32(roomId));
}

QByteArray roomInfoReply(const RoomInfo& info)
{
    return replyFrame(Wire()
                          .u32(info.status)
                          .u32(info.flags)
                          .str(info.title)
                          .u32(info.userCount)
                          .u32(info.capacity)
                          .u32(info.gameId)
                          .u32(info.nextRoomId));
}

QByteArray roomEventFrame(quint32 roomId, const Event& event)
{
    return notifyFrame(NotifyRoomEvent, Wire()
                                            .u32(event.kind)
                                            .u32(roomId)
                                            .u32(event.userId)
                                            .u32(event.otherId)
                                            .u32(event.value)
                                            .u32(0)
                                            .str(event.text));
}
