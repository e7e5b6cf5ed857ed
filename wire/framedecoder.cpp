// SPDX-License-Identifier: GPL-3.0-or-later
#include "framedecoder.h"

#include "wirefields.h"

#include <QtEndian>

void FrameDecoder::append(QByteArrayView bytes)
{
    if (consumed > 0) {
        buffer.remove(0, consumed);
        consumed = 0;
    }
    buffer.append(bytes.data(), bytes.size());
}

FrameDecoder::Status FrameDecoder::next(QByteArrayView& payload)
{
    const qsizetype available = buffer.size() - consumed;
    if (available < lengthPrefix)
        return Status::NeedMore;
    lastLength = qFromLittleEndian<quint32>(buffer.constData() + consumed);
    if (!isValidFrameLength(lastLength))
        return Status::BadLength;
    if (available < lengthPrefix + qsizetype(lastLength))
        return Status::NeedMore;
    payload = QByteArrayView(buffer.constData() + consumed + lengthPrefix, lastLength);
    consumed += lengthPrefix + lastLength;
    return Status::Frame;
}
