#include "payloadreader.h"

#include <QStringDecoder>
#include <QtEndian>

quint32 PayloadReader::u32(const char* field)
{
    if (data.size() - position < 4)
        throw BadRequest{QString("field %1 runs past the payload").arg(field)};
    const quint32 value = qFromLittleEndian<quint32>(data.data() + position);
    position += 4;
    return value;
}

QString PayloadReader::text(const char* field, int limit)
{
    const qsizetype end = data.indexOf('\0', position);
    if (end < 0)
        throw BadRequest{QString("string %1 has no NUL within the payload").arg(field)};
    const QByteArrayView bytes = data.sliced(position, end - position);
    position = end + 1;
    if (bytes.size() >= limit)
        throw BadRequest{
            QString("string %1 of %2 bytes exceeds its limit").arg(field).arg(bytes.size())};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw BadRequest{QString("string %1 is not valid UTF-8").arg(field)};
    return text;
}
