#include "payloadreader.h"

#include <QStringDecoder>

quint32 PayloadReader::u32(const char* field)
{
    const quint32 value = fields.u32();
    if (fields.failed())
        throw BadRequest{QString("field %1 runs past the payload").arg(field)};
    return value;
}

QString PayloadReader::text(const char* field, int limit)
{
    const QByteArrayView bytes = fields.utf8();
    if (fields.failed())
        throw BadRequest{QString("string %1 has no NUL within the payload").arg(field)};
    if (bytes.size() >= limit)
        throw BadRequest{
            QString("string %1 of %2 bytes exceeds its limit").arg(field).arg(bytes.size())};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw BadRequest{QString("string %1 is not valid UTF-8").arg(field)};
    return text;
}
