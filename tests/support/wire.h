#pragma once

#include <QByteArray>
#include <QString>

// Builds lobby wire data for tests: little-endian u32, NUL-terminated UTF-8 strings.
class Wire
{
  public:
    Wire& u32(quint32 value)
    {
        return byte(value).byte(value >> 8).byte(value >> 16).byte(value >> 24);
    }
    Wire& byte(quint8 value) { return raw(QByteArray(1, char(value))); }
    Wire& str(const QString& text) { return raw(text.toUtf8()).byte(0); }
    Wire& raw(const QByteArray& bytes)
    {
        data.append(bytes);
        return *this;
    }
    QByteArray bytes() const { return data; }
    operator QByteArray() const { return data; }

  private:
    QByteArray data;
};

// A frame: u32 length then the payload.
QByteArray frame(const QByteArray& payload);
// A reply frame (type byte 0) carrying the given fields.
QByteArray replyFrame(const QByteArray& fields);
// A notification frame (type byte 1) of the given kind with its fields.
QByteArray notifyFrame(quint32 kind, const QByteArray& fields = {});
// The server's hello answer with the given result.
QByteArray serverHello(quint32 result);
// The client's hello as it must appear on the wire.
QByteArray clientHello();
