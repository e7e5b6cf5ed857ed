#include "loginguard.h"

constexpr qint64 minuteMs = 60 * 1000;

LoginGuard::LoginGuard(int failuresPerMinute, int banSeconds)
    : failuresPerMinute(failuresPerMinute), banMs(qint64(banSeconds) * 1000)
{
}

bool LoginGuard::isBanned(const QString& address, qint64 nowMs) const
{
    const auto entry = entries.constFind(address);
    return entry != entries.constEnd() && entry->bannedUntilMs > nowMs;
}

bool LoginGuard::recordFailure(const QString& address, qint64 nowMs)
{
    auto entry = entries.find(address);
    if (entry == entries.end())
        entry = entries.insert(address, Entry{RateWindow(failuresPerMinute, minuteMs)});
    entry->lastFailureMs = nowMs;
    if (entry->failures.tryTake(nowMs))
        return false;
    entry->bannedUntilMs = nowMs + banMs;
    return true;
}

void LoginGuard::forgetOld(qint64 nowMs)
{
    for (auto entry = entries.begin(); entry != entries.end();) {
        if (entry->bannedUntilMs <= nowMs && entry->lastFailureMs + minuteMs <= nowMs)
            entry = entries.erase(entry);
        else
            ++entry;
    }
}
