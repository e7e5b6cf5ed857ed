// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics.h"

#include <QRegularExpression>

#include <algorithm>

namespace
{
// The refusal texts that tell of a limit, as a prefix and a suffix, and the limit's setting.
// A room, network or account that a text names comes after the prefix.
struct LimitText {
    QLatin1String prefix, suffix;
    const char* limit;
};
const LimitText limitTexts[] = {
    {QLatin1String("too many connections from its network"), {}, "connectionsPerAddress"},
    {QLatin1String("too many connections not logged in"), {}, "connectionsBeforeLogin"},
    {QLatin1String("out of descriptors"), {}, "openFiles"},
    {QLatin1String("send queue full"), {}, "sendQueueBytes"},
    {QLatin1String("chat line in room "), QLatin1String(": rate limit"), "chatLinesPerSecond"},
    {QLatin1String("room creation: rate limit"), {}, "roomCreationsPerMinute"},
    {QLatin1String("room creation: already in the most rooms"), {}, "maxRoomsPerUser"},
    {QLatin1String("enter room "), QLatin1String(": in too many rooms"), "maxRoomsPerUser"},
    {QLatin1String("room creation: the most rooms held from"), {}, "roomsPerAddress"},
    {QLatin1String("room creation: every room slot is taken"), {}, "roomSlots"},
    {QLatin1String("login: the lobby holds the most users"), {}, "maxUsers"},
    {QLatin1String("login: address barred"), {}, "failedLoginsPerMinute"},
    {QLatin1String("login: account locked"), {}, "lockAfterFailures"},
    {{}, QLatin1String("password queue full"), "passwordJobsWaiting"},
    {QLatin1String("registration: mail rate limit"), {}, "registrationMailsPerHour"},
    {QLatin1String("handle name change: rate limit"), {}, "changesPerMinute"},
    {QLatin1String("mail address change: rate limit"), {}, "changesPerMinute"},
};
} // namespace

Histogram::Histogram(std::vector<double> bounds)
    : bounds(std::move(bounds)), counts(this->bounds.size() + 1)
{
}

void Histogram::observe(qint64 nanoseconds)
{
    const double seconds = double(nanoseconds) / 1e9;
    const auto bucket = std::lower_bound(bounds.begin(), bounds.end(), seconds) - bounds.begin();
    counts[size_t(bucket)].fetch_add(1, std::memory_order_relaxed);
    totalNanoseconds.fetch_add(quint64(std::max<qint64>(nanoseconds, 0)),
                               std::memory_order_relaxed);
}

void Histogram::write(PrometheusText& out, const PrometheusText::Labels& labels) const
{
    quint64 seen = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        seen += counts[i].load(std::memory_order_relaxed);
        out.sample(double(seen),
                   labels +
                       PrometheusText::Labels{{"le", i < bounds.size() ? QString::number(bounds[i])
                                                                       : QString("+Inf")}},
                   "_bucket");
    }
    out.sample(double(totalNanoseconds.load(std::memory_order_relaxed)) / 1e9, labels, "_sum");
    out.sample(double(seen), labels, "_count");
}

Metrics::Metrics()
{
    for (const LimitText& text : limitTexts)
        limitHits.insert(text.limit, 0);
}

QString refusalKind(const QString& refusal)
{
    static const QRegularExpression numbers("[0-9]+");
    return refusal.left(refusal.indexOf(QLatin1String(": "))).replace(numbers, "#");
}

void Metrics::countRefusal(const QString& what)
{
    ++refusals;
    ++refusalsByKind[refusalKind(what)];
    for (const LimitText& text : limitTexts) {
        if (what.startsWith(text.prefix) && what.endsWith(text.suffix)) {
            ++limitHits[text.limit];
            return;
        }
    }
}
