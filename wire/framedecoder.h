// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Cuts a byte stream into frames. A length is judged as soon as its four bytes are in, so a
// client announcing an oversized frame is stopped before the server buffers any of it.
class FrameDecoder
{
  public:
    enum class Status { Frame, NeedMore, BadLength };

    void append(QByteArrayView bytes);
    // The next complete payload, valid until the next call of append() or next().
    Status next(QByteArrayView& payload);
    quint32 badLength() const { return lastLength; }

  private:
    QByteArray buffer;
    qsizetype consumed = 0;
    quint32 lastLength = 0;
};
