// SPDX-License-Identifier: GPL-3.0-or-later
#include "addressguard.h"

#include <algorithm>

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

bool AddressGuard::failedLately(const QString& address, qint64 nowMs) const
{
    const auto found = entries.constFind(address);
    return found != entries.constEnd() && found->lastFailureMs >= 0 &&
           found->lastFailureMs + minuteMs > nowMs;
}

bool AddressGuard::recordLoginFailure(const QString& address, qint64 nowMs)
{
    Entry& failed = entry(address, nowMs);
    failed.lastFailureMs = nowMs;
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

AccountGuard::AccountGuard(const Limits& limits) : limits(limits) {}

bool AccountGuard::isLocked(const QString& account, const QString& address, qint64 nowMs) const
{
    const auto found = logins.constFind(account);
    return found != logins.constEnd() && found->lockedUntilMs > nowMs &&
           usualAddress.value(account) != address;
}

qint64 AccountGuard::recordFailure(const QString& account, qint64 nowMs)
{
    auto found = logins.find(account);
    if (found == logins.end())
        found = logins.insert(account, {RateWindow(limits.failures, limits.windowMs)});
    found->lastUseMs = nowMs;
    if (found->failures.tryTake(nowMs))
        return 0;
    // Each lock in a row doubles the next; the shift stops before it could overflow.
    const qint64 length = std::min(limits.lockMs << std::min(found->locks, 30), limits.maxLockMs);
    ++found->locks;
    found->lockedUntilMs = nowMs + length;
    return length;
}

void AccountGuard::recordSuccess(const QString& account, const QString& address, qint64 nowMs)
{
    usualAddress.insert(account, address);
    const auto found = logins.constFind(account);
    if (found != logins.constEnd() && found->lockedUntilMs <= nowMs)
        logins.erase(found);
}

bool AccountGuard::unlock(const QString& account, qint64 nowMs)
{
    const auto found = logins.constFind(account);
    const bool locked = found != logins.constEnd() && found->lockedUntilMs > nowMs;
    if (found != logins.constEnd())
        logins.erase(found);
    return locked;
}

bool AccountGuard::allowChange(quint32 userId, qint64 nowMs)
{
    auto found = changes.find(userId);
    if (found == changes.end())
        found = changes.insert(userId, {RateWindow(limits.changesPerMinute, minuteMs)});
    found->lastUseMs = nowMs;
    return found->changes.tryTake(nowMs);
}

void AccountGuard::forgetOld(qint64 nowMs)
{
    // A window is full again one window after its last use; the doubling of locks is forgotten
    // once an account has been left alone for as long as the longest lock.
    const qint64 idleMs = std::max(limits.windowMs, limits.maxLockMs);
    for (auto found = logins.begin(); found != logins.end();) {
        if (found->lockedUntilMs <= nowMs && found->lastUseMs + idleMs <= nowMs)
            found = logins.erase(found);
        else
            ++found;
    }
    for (auto found = changes.begin(); found != changes.end();) {
        if (found->lastUseMs + minuteMs <= nowMs)
            found = changes.erase(found);
        else
            ++found;
    }
}
