#include "support/wire.h"

QByteArray frame(const QByteArray& payload)
{
    return Wire().u32(quint32(payload.size())).raw(payload);
}

QByteArray replyFrame(const QByteArray& fields)
{
    return frame(Wire().byte(0).raw(fields));
}

QByteArray notifyFrame(quint32 kind, const QByteArray& fields)
{
    return frame(Wire().byte(1).u32(kind).raw(fields));
}

QByteArray serverHello(quint32 result)
{
    return frame(Wire().u32(result));
}

QByteArray clientHello()
{
    return QByteArray::fromHex("08000000304a574b02000000");
}
