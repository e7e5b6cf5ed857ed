// SPDX-License-Identifier: GPL-3.0-or-later
#include "ratewindow.h"

#include <QElapsedTimer>

#include <algorithm>

RateWindow::RateWindow(int limit, qint64 windowMs)
    : limit(limit), perMs(double(limit) / double(windowMs)), tokens(limit)
{
}

bool RateWindow::tryTake(qint64 nowMs)
{
    if (lastMs >= 0)
        tokens = std::min(limit, tokens + double(nowMs - lastMs) * perMs);
    lastMs = nowMs;
    if (tokens < 1.0)
        return false;
    tokens -= 1.0;
    return true;
}

qint64 monotonicMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}
