#include "addressguard.h"

constexpr qint64 minuteMs = 60 * 1000;
constexpr qint64 hourMs = 60 * minuteMs;

AddressGuard::AddressGuard(int failedLoginsPerMinute, int loginBanSeconds,
                           int registrationMailsPerHour)
    : failedLoginsPerMinute(failedLoginsPerMinute), banMs(qint64(loginBanSeconds) * 1000),
      registrationMailsPerHour(registrationMailsPerHour)
{
}

AddressGuard::Entry& AddressGuard::entry(const QString& address, qint64 nowMs)
{
    auto found = entries.find(address);
    if (found == entries.end())
        found = entries.insert(address, Entry{RateWindow(failedLoginsPerMinute, minuteMs),
                                              RateWindow(registrationMailsPerHour, hourMs)});
    found->lastUseMs = nowMs;
    return *found;
}

bool AddressGuard::isLoginBarred(const QString& address, qint64 nowMs) const
{
    const auto found = entries.constFind(address);
    return found != entries.constEnd() && found->bannedUntilMs > nowMs;
}

bool AddressGuard::recordLoginFailure(const QString& address, qint64 nowMs)
{
    Entry& failed = entry(address, nowMs);
    if (failed.loginFailures.tryTake(nowMs))
        return false;
    failed.bannedUntilMs = nowMs + banMs;
    return true;
}

bool AddressGuard::allowRegistrationMail(const QString& address, qint64 nowMs)
{
    return entry(address, nowMs).registrationMails.tryTake(nowMs);
}

void AddressGuard::forgetOld(qint64 nowMs)
{
    // After an hour without use every window is full again and any ban is over.
    for (auto found = entries.begin(); found != entries.end();) {
        if (found->bannedUntilMs <= nowMs && found->lastUseMs + hourMs <= nowMs)
            found = entries.erase(found);
        else
            ++found;
    }
}
