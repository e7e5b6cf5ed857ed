#include "support/wire.h"

#include <QtEndian>

Wire& Wire::u32(quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    data.append(bytes, 4);
    return *this;
}

Wire& Wire::byte(quint8 value)
{
    data.append(char(value));
    return *this;
}

Wire& Wire::str(const QString& text)
{
    data.append(text.toUtf8());
    data.append('\0');
    return *this;
}

Wire& Wire::raw(const QByteArray& bytes)
{
    data.append(bytes);
    return *this;
}

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
