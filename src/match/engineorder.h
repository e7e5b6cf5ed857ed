// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The orders the client gives the game engine through its input pipe, one fixed-size block each:
// a little-endian u32 order, 12 zero bytes, then a 256-byte text field (the host's address for a
// join, NUL-terminated in the local 8-bit encoding and zero-filled after; zero otherwise).

#include <QByteArray>
#include <QString>

enum EngineOrder : quint32 {
    StopOrder = 0,
    HostOrder = 1,
    JoinOrder = 2,
};

constexpr int orderBlockSize = 272;
constexpr int orderTextOffset = 16;
constexpr int orderTextSize = orderBlockSize - orderTextOffset;

// The block for order. hostAddress is used by JoinOrder only; an address too long for the field
// with its NUL is cut at the last whole character that fits.
QByteArray orderBlock(EngineOrder order, const QString& hostAddress = QString());
