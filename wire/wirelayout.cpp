// SPDX-License-Identifier: GPL-3.0-or-later
#include "wirelayout.h"

#include <QStringDecoder>

void RequestReader::u32(const char* field, quint32& value)
{
    if (failed())
        return;
    value = in.u32();
    if (in.failed())
        why = QString("field %1 runs past the payload").arg(field);
}

void RequestReader::text(const char* field, QString& value, int limit)
{
    if (failed())
        return;
    const QByteArrayView bytes = in.utf8();
    if (in.failed()) {
        why = QString("string %1 has no NUL within the payload").arg(field);
        return;
    }
    if (bytes.size() >= limit) {
        why = QString("string %1 of %2 bytes exceeds its limit").arg(field).arg(bytes.size());
        return;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    value = decoder.decode(bytes);
    if (decoder.hasError())
        why = QString("string %1 is not valid UTF-8").arg(field);
}
