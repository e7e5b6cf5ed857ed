// SPDX-License-Identifier: GPL-3.0-or-later
#include "wirefields.h"

#include <QStringEncoder>
#include <QtEndian>

#include <cstring>

FrameWriter FrameWriter::clientHello()
{
    FrameWriter writer;
    writer.u32(helloMagic).u32(protocolVersion);
    return writer;
}

FrameWriter FrameWriter::serverHello(quint32 result)
{
    FrameWriter writer;
    writer.u32(result);
    return writer;
}

void FrameWriter::append(const char* data, qsizetype size)
{
    if (overflow || payloadSize + size > maxPayload) {
        overflow = true;
        return;
    }
    std::memcpy(buffer + lengthPrefix + payloadSize, data, size_t(size));
    payloadSize += size;
    qToLittleEndian(quint32(payloadSize), buffer);
}

FrameWriter& FrameWriter::u32(quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    append(bytes, 4);
    return *this;
}

FrameWriter& FrameWriter::byte(quint8 value)
{
    const char byte = char(value);
    append(&byte, 1);
    return *this;
}

FrameWriter& FrameWriter::bytes(QByteArrayView data)
{
    // An empty view may hold no pointer at all, which memcpy must not be given.
    if (!data.isEmpty())
        append(data.data(), data.size());
    return *this;
}

FrameWriter& FrameWriter::str(QStringView text)
{
    QStringEncoder encoder(QStringEncoder::Utf8);
    char* const start = buffer + lengthPrefix + payloadSize;
    const qsizetype room = maxPayload - payloadSize;
    // Encode straight into the frame when even the worst case fits; a long text takes the
    // detour through a temporary so that the check is exact.
    if (!overflow && encoder.requiredSpace(text.size()) + 1 <= room) {
        char* end = encoder.appendToBuffer(start, text);
        *end++ = '\0';
        payloadSize += end - start;
        qToLittleEndian(quint32(payloadSize), buffer);
        return *this;
    }
    const QByteArray utf8 = text.toUtf8();
    append(utf8.constData(), utf8.size());
    append("", 1);
    return *this;
}

quint32 FieldReader::u32()
{
    const QByteArrayView field = bytes(4);
    return failure ? 0 : qFromLittleEndian<quint32>(field.data());
}

QByteArrayView FieldReader::bytes(qsizetype count)
{
    if (failure || count < 0 || size - offset < count) {
        failure = true;
        return {};
    }
    const QByteArrayView field(data + offset, count);
    offset += count;
    return field;
}

QByteArrayView FieldReader::utf8()
{
    const void* nul = failure ? nullptr : std::memchr(data + offset, '\0', size_t(size - offset));
    if (!nul) {
        failure = true;
        return {};
    }
    const QByteArrayView text(data + offset, static_cast<const char*>(nul) - (data + offset));
    offset += text.size() + 1;
    return text;
}
