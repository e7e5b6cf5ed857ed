// SPDX-License-Identifier: GPL-3.0-or-later
#include "latencyhistogram.h"

#include <QList>

#include <algorithm>
#include <ctime>

namespace
{
constexpr qint64 stepNs = 100000;
constexpr int steps = 100000;
} // namespace

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

LatencyHistogram::LatencyHistogram() : counts(steps, 0) {}

void LatencyHistogram::add(qint64 nanoseconds)
{
    ++counts[int(std::clamp<qint64>(nanoseconds / stepNs, 0, steps - 1))];
    ++total;
}

void LatencyHistogram::merge(const LatencyHistogram& other)
{
    for (int i = 0; i < steps; ++i)
        counts[i] += other.counts[i];
    total += other.total;
}

void LatencyHistogram::clear()
{
    counts.fill(0);
    total = 0;
}

double LatencyHistogram::percentileMs(double fraction) const
{
    const qint64 wanted = qint64(fraction * double(total));
    qint64 seen = 0;
    for (int i = 0; i < steps; ++i) {
        seen += counts[i];
        if (seen > wanted)
            return double(i + 1) * stepNs / 1e6;
    }
    return double(steps) * stepNs / 1e6;
}

QByteArray LatencyHistogram::encode() const
{
    QByteArray text;
    for (int i = 0; i < steps; ++i) {
        if (counts[i] == 0)
            continue;
        if (!text.isEmpty())
            text += ',';
        text += QByteArray::number(i) + ':' + QByteArray::number(counts[i]);
    }
    return text.isEmpty() ? "-" : text;
}

LatencyHistogram LatencyHistogram::decode(const QByteArray& text)
{
    LatencyHistogram histogram;
    for (const QByteArray& pair : text.split(',')) {
        const QList<QByteArray> parts = pair.split(':');
        if (parts.size() != 2)
            continue;
        const int step = parts[0].toInt();
        if (step < 0 || step >= steps)
            continue;
        histogram.counts[step] += parts[1].toLongLong();
        histogram.total += parts[1].toLongLong();
    }
    return histogram;
}
