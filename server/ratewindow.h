// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// Allows `limit` events per window, refilled continuously (a token bucket): a burst of up to
// `limit` passes, then events pass at the average rate. Constant size whatever the limit.
class RateWindow
{
  public:
    RateWindow(int limit, qint64 windowMs);

    // Counts one event at nowMs when the rate allows it; false when it does not.
    bool tryTake(qint64 nowMs);

  private:
    double limit;
    double perMs;
    double tokens;
    qint64 lastMs = -1;
};

// Milliseconds on a clock that never jumps, for every rate and timeout of the server.
qint64 monotonicMs();
