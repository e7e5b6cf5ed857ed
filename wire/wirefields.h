// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbywire.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// True for a frame length either side may receive: a frame is never empty and never larger than
// maxPayload. Readers judge it as soon as the 4 bytes of the prefix are in.
constexpr bool isValidFrameLength(quint32 length)
{
    return length != 0 && length <= quint32(maxPayload);
}

// Builds one frame in place: the length prefix, then the fields. A frame that would outgrow
// maxPayload is marked overflowed and must not be sent.
class FrameWriter
{
  public:
    // A frame whose every field the caller writes; wirelayout.h writes the packets after the
    // hello.
    static FrameWriter blank() { return FrameWriter(); }
    static FrameWriter clientHello();
    static FrameWriter serverHello(quint32 result);

    FrameWriter& u32(quint32 value);
    FrameWriter& byte(quint8 value);
    FrameWriter& bytes(QByteArrayView data);
    // UTF-8 followed by one NUL.
    FrameWriter& str(QStringView text);

    bool overflowed() const { return overflow; }
    const char* frame() const { return buffer; }
    qsizetype frameSize() const { return lengthPrefix + payloadSize; }
    bool isEmpty() const { return payloadSize == 0; }
    QByteArray toByteArray() const { return QByteArray(buffer, frameSize()); }

  private:
    FrameWriter() = default;
    void append(const char* data, qsizetype size);

    char buffer[lengthPrefix + maxPayload] = {};
    qsizetype payloadSize = 0;
    bool overflow = false;
};

// Reads the fields of one received payload. A read past the end yields zero or an empty view
// and marks the reader failed, so that a short packet is found once, after all its reads.
class FieldReader
{
  public:
    FieldReader(const char* data, qsizetype size) : data(data), size(size) {}
    explicit FieldReader(QByteArrayView payload) : FieldReader(payload.data(), payload.size()) {}

    quint32 u32();
    QByteArrayView bytes(qsizetype count);
    // The bytes of a NUL-terminated string, without the NUL; they live in the packet.
    QByteArrayView utf8();
    QString string() { return QString::fromUtf8(utf8()); }

    bool failed() const { return failure; }
    qsizetype position() const { return offset; }

  private:
    const char* data;
    qsizetype size;
    qsizetype offset = 0;
    bool failure = false;
};
