#pragma once

#include <QByteArray>
#include <QString>

// Builds lobby wire data for tests: little-endian u32, NUL-terminated UTF-8 strings.
class Wire
{
  public:
    Wire& u32(quint32 v) { return byte(v).byte(v >> 8).byte(v >> 16).byte(v >> 24); }
    Wire& byte(quint8 value) { return raw(QByteArray(1, char(value))); }
    Wire& str(const QString& text) { return raw(text.toUtf8()).byte(0); }
    Wire& raw(const QByteArray& bytes)
    {
        data.append(bytes);
        return *this;
    }
    operator QByteArray() const { return data; }

  private:
    QByteArray data;
};

// A frame: u32 length then the payload.
inline QByteArray frame(const QByteArray& payload)
{
    return Wire().u32(quint32(payload.size())).raw(payload);
}

// A reply frame (type byte 0) carrying the given fields.
inline QByteArray replyFrame(const QByteArray& fields)
{
    return frame(Wire().byte(0).raw(fields));
}

// A notification frame (type byte 1) of the given kind with its fields.
inline QByteArray notifyFrame(quint32 kind, const QByteArray& fields = {})
{
    return frame(Wire().byte(1).u32(kind).raw(fields));
}

// The server's hello answer with the given result.
inline QByteArray serverHello(quint32 result)
{
    return frame(Wire().u32(result));
}

// An engine order block as hex: its number, fifteen zero bytes, then the text and zeros to 272
// bytes.
inline QByteArray engineBlockHex(char order, const QByteArray& text = {})
{
    return (order + QByteArray(15, '\0') + text).leftJustified(272, '\0').toHex();
}

// The client's hello as it must appear on the wire.
inline QByteArray clientHello()
{
    return QByteArray::fromHex("08000000304a574b02000000");
}
