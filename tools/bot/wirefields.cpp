#include "wirefields.h"

#include <QStringEncoder>
#include <QtEndian>

#include <cstring>

RequestWriter::RequestWriter(quint32 firstField)
{
    u32(firstField);
}

void RequestWriter::append(const char* data, qsizetype size)
{
    if (overflow || payloadSize + size > maxPayload) {
        overflow = true;
        return;
    }
    std::memcpy(buffer + lengthPrefix + payloadSize, data, size_t(size));
    payloadSize += size;
    qToLittleEndian(quint32(payloadSize), buffer);
}

RequestWriter& RequestWriter::u32(quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    append(bytes, 4);
    return *this;
}

RequestWriter& RequestWriter::string(QStringView text)
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

quint32 RequestWriter::code() const
{
    return qFromLittleEndian<quint32>(buffer + lengthPrefix);
}

quint32 FieldReader::u32()
{
    if (failure || size - position < 4) {
        failure = true;
        return 0;
    }
    const quint32 value = qFromLittleEndian<quint32>(data + position);
    position += 4;
    return value;
}

QByteArrayView FieldReader::utf8()
{
    const void* nul =
        failure ? nullptr : std::memchr(data + position, '\0', size_t(size - position));
    if (!nul) {
        failure = true;
        return {};
    }
    const QByteArrayView text(data + position, static_cast<const char*>(nul) - (data + position));
    position += text.size() + 1;
    return text;
}
