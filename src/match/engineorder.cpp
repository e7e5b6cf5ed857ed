// SPDX-License-Identifier: GPL-3.0-or-later
#include "match/engineorder.h"

#include "app/globals.h"

#include <QtEndian>

// The longest leading part of text whose local encoding leaves room for the NUL. Cutting the
// text rather than the bytes keeps the engine from reading half a character.
static QByteArray encodedToFit(QString text)
{
    const int limit = orderTextSize - 1;
    QByteArray bytes = toLocalBytes(text);
    while (bytes.size() > limit) {
        const bool pair = text.size() >= 2 && text.back().isLowSurrogate() &&
                          text.at(text.size() - 2).isHighSurrogate();
        text.chop(pair ? 2 : 1);
        bytes = toLocalBytes(text);
    }
    return bytes;
}

QByteArray orderBlock(EngineOrder order, const QString& hostAddress)
{
    QByteArray block(orderBlockSize, '\0');
    qToLittleEndian<quint32>(order, block.data());
    if (order == JoinOrder) {
        const QByteArray text = encodedToFit(hostAddress);
        block.replace(orderTextOffset, int(text.size()), text);
    }
    return block;
}
