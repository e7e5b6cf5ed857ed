#include "lobbymessages.h"

RoomEventFields RoomEventFields::read(FieldReader& in)
{
    RoomEventFields event;
    event.eventKind = in.u32();
    event.roomId = in.u32();
    event.userId = in.u32();
    event.otherId = in.u32();
    event.value = in.u32();
    event.reserved = in.u32();
    event.utf8Text = in.utf8();
    return event;
}

QByteArray roomEventFrame(quint32 eventKind, quint32 roomId, quint32 userId, quint32 otherId,
                          quint32 value, QStringView text)
{
    return FrameWriter::notify(NotifyRoomEvent)
        .u32(eventKind)
        .u32(roomId)
        .u32(userId)
        .u32(otherId)
        .u32(value)
        .u32(0)
        .str(text)
        .toByteArray();
}

RoomInfoReply RoomInfoReply::read(FieldReader& in)
{
    RoomInfoReply info;
    info.status = in.u32();
    info.flags = in.u32();
    info.title = in.string();
    info.userCount = in.u32();
    info.capacity = in.u32();
    info.gameId = in.u32();
    info.nextRoomId = in.u32();
    return info;
}

QByteArray RoomInfoReply::frame() const
{
    return FrameWriter::reply()
        .u32(status)
        .u32(flags)
        .str(title)
        .u32(userCount)
        .u32(capacity)
        .u32(gameId)
        .u32(nextRoomId)
        .toByteArray();
}

LoginReply LoginReply::read(FieldReader& in)
{
    LoginReply reply;
    reply.result = in.u32();
    reply.userId = in.u32();
    reply.connectionCount = in.u32();
    reply.message = in.string();
    return reply;
}

QByteArray LoginReply::frame() const
{
    return FrameWriter::reply()
        .u32(result)
        .u32(userId)
        .u32(connectionCount)
        .str(message)
        .toByteArray();
}
