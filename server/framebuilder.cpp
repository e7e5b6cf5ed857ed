#include "framebuilder.h"

#include <QtEndian>

FrameBuilder::FrameBuilder()
{
    frame.reserve(64);
    frame.append(lengthPrefix, '\0');
}

FrameBuilder FrameBuilder::reply()
{
    FrameBuilder builder;
    builder.frame.append(char(ReplyPacket));
    return builder;
}

FrameBuilder FrameBuilder::notify(NotifyKind kind)
{
    FrameBuilder builder;
    builder.frame.append(char(NotifyPacket));
    builder.u32(kind);
    return builder;
}

FrameBuilder FrameBuilder::hello()
{
    return FrameBuilder();
}

FrameBuilder& FrameBuilder::u32(quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    frame.append(bytes, 4);
    return *this;
}

FrameBuilder& FrameBuilder::str(const QString& text)
{
    frame.append(text.toUtf8());
    frame.append('\0');
    return *this;
}

QByteArray FrameBuilder::finish()
{
    // Every text the server sends was checked against a limit on its way in, so no frame
    // outgrows maxPayload; the assertion guards that reasoning in debug builds.
    Q_ASSERT(frame.size() - lengthPrefix <= maxPayload);
    qToLittleEndian(quint32(frame.size() - lengthPrefix), frame.data());
    return frame;
}

QByteArray helloAnswer(quint32 result)
{
    return FrameBuilder::hello().u32(result).finish();
}

QByteArray closeNotice(CloseNoticeReason reason)
{
    return FrameBuilder::notify(CloseNotice).u32(reason).finish();
}

QByteArray roomEventFrame(RoomEventKind kind, quint32 roomId, quint32 userId, quint32 otherId,
                          quint32 value, const QString& text)
{
    return FrameBuilder::notify(NotifyRoomEvent)
        .u32(kind)
        .u32(roomId)
        .u32(userId)
        .u32(otherId)
        .u32(value)
        .u32(0)
        .str(text)
        .finish();
}
