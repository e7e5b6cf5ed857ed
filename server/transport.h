// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Where a connection's bytes go. The TCP implementation wraps a socket; the fuzz target
// captures the bytes in memory, so the connection's logic runs the same in both.
class Transport
{
  public:
    virtual ~Transport() = default;
    virtual void write(const QByteArray& bytes) = 0;
    // Bytes accepted by write() that have not reached the operating system yet.
    virtual qint64 unsentBytes() const = 0;
    // Sends what is queued, then closes; the transport no longer reports to its connection.
    virtual void closeAfterFlush() = 0;
    // Drops what is queued and closes at once.
    virtual void abort() = 0;
};
