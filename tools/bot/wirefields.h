#pragma once

#include "lobbywire.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Builds one request frame in place: length prefix, request code, then the fields. A request
// that would not fit in one frame is marked overflowed and must not be sent.
class RequestWriter
{
  public:
    // The first field is the request code, or the magic of the hello.
    explicit RequestWriter(quint32 firstField);

    RequestWriter& u32(quint32 value);
    // UTF-8 followed by one NUL.
    RequestWriter& string(QStringView text);

    bool overflowed() const { return overflow; }
    quint32 code() const;
    const char* frame() const { return buffer; }
    qsizetype frameSize() const { return lengthPrefix + payloadSize; }

  private:
    void append(const char* data, qsizetype size);

    char buffer[lengthPrefix + maxPayload];
    qsizetype payloadSize = 0;
    bool overflow = false;
};

// Reads the fields of one received payload. A read past the end yields zero or an empty view
// and marks the reader failed, so that a short packet is found once, after all its reads.
class FieldReader
{
  public:
    FieldReader(const char* data, qsizetype size) : data(data), size(size) {}

    quint32 u32();
    // The bytes of a NUL-terminated string, without the NUL; they live in the packet.
    QByteArrayView utf8();
    QString string() { return QString::fromUtf8(utf8()); }

    bool failed() const { return failure; }

  private:
    const char* data;
    qsizetype size;
    qsizetype position = 0;
    bool failure = false;
};
