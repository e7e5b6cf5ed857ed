// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "prometheustext.h"

#include <QHash>
#include <QString>

#include <atomic>
#include <vector>

// Durations counted into fixed buckets, as a Prometheus histogram. One thread may observe
// while another writes: the counts are atomic and the buckets are summed only when written, so
// a scrape never sees them fall, though its sum may miss an observation that its buckets hold.
class Histogram
{
  public:
    // Upper bounds in seconds, ascending; one more bucket takes everything beyond them.
    explicit Histogram(std::vector<double> bounds);
    void observe(qint64 nanoseconds);
    // The samples of the histogram family last begun in out: cumulative buckets, sum, count.
    void write(PrometheusText& out, const PrometheusText::Labels& labels = {}) const;

  private:
    const std::vector<double> bounds;
    std::vector<std::atomic<quint64>> counts;
    std::atomic<quint64> totalNanoseconds{0};
};

// Store statements outside a transaction (reads), and transactions (every change is one).
// The store's thread observes; the event loop reports.
struct StoreFigures {
    enum Operation { Read, Write };
    // A row read from a local SQLite file takes well under a millisecond; a locked or remote
    // database gives up after 2 s (a lock) or 5 s (a statement).
    static inline const std::vector<double> bounds = {
        0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5};
    Histogram seconds[2] = {Histogram(bounds), Histogram(bounds)};
    std::atomic<quint64> errors[2]{};
};

// Counters for the periodic metrics line and the monitoring endpoint.
struct Metrics {
    Metrics();

    quint64 framesIn = 0;
    quint64 framesOut = 0;
    // Every refusal, whether the log shows it or only sums it up; and by what was refused.
    quint64 refusals = 0;
    QHash<QString, quint64> refusalsByKind;
    // The refusals that met a limit of the server, by its setting's name; every limit is there
    // from the start, so that a rate over them starts at the first hit.
    QHash<QString, quint64> limitHits;
    // Requests taken, by request code (known codes only).
    QHash<quint32, quint64> requests;
    // Connections ended because their client stopped reading its replies and events.
    quint64 slowReaders = 0;
    // Connections ended by a deadline: no hello, no login, a frame left unfinished.
    quint64 timeouts = 0;
    // Connections ended for too many refusals.
    quint64 offenders = 0;
    // Times the server stopped accepting because it ran out of descriptors or memory.
    quint64 acceptPauses = 0;
    // Connections open and not logged in (a gauge, not a counter).
    int notLoggedIn = 0;

    void countRefusal(const QString& what);
};

// What a refusal refused: its text up to the first ": ", numbers as #. The texts name accounts,
// addresses and titles only after that, so the kinds stay few whatever the clients send.
QString refusalKind(const QString& refusal);
