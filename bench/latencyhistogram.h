// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QVector>

// Latencies in 0.1 ms steps up to 10 s (longer ones share the last step), so that workers can
// send theirs as one line and the coordinator can merge them before taking percentiles.
class LatencyHistogram
{
  public:
    LatencyHistogram();

    void add(qint64 nanoseconds);
    void merge(const LatencyHistogram& other);
    void clear();
    qint64 count() const { return total; }
    // The latency below which the given fraction of samples lies, in milliseconds.
    double percentileMs(double fraction) const;

    // "step:count" pairs of the non-empty steps, separated by commas.
    QByteArray encode() const;
    static LatencyHistogram decode(const QByteArray& text);

  private:
    QVector<qint64> counts;
    qint64 total = 0;
};

// Nanoseconds on the clock that every process on this machine shares.
qint64 monotonicNs();
