// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ratewindow.h"

#include <QHash>
#include <QString>

// Limits per client address. Failed logins: past the allowed number within a minute, every
// login from that address is refused for a while, right or wrong. Registration mails: so many
// per hour, so that nobody turns the lobby into a mail cannon.
class AddressGuard
{
  public:
    AddressGuard(int failedLoginsPerMinute, int loginBanSeconds, int registrationMailsPerHour);

    bool isLoginBarred(const QString& address, qint64 nowMs) const;
    // Whether a login from the address failed within the last minute.
    bool failedLately(const QString& address, qint64 nowMs) const;
    // Returns true when this failure starts a ban.
    bool recordLoginFailure(const QString& address, qint64 nowMs);
    // Counts one registration mail; false when the address has sent too many.
    bool allowRegistrationMail(const QString& address, qint64 nowMs);
    // Drops addresses whose limits have long recovered, so the table does not grow.
    void forgetOld(qint64 nowMs);

  private:
    struct Entry {
        RateWindow loginFailures;
        RateWindow registrationMails;
        qint64 lastUseMs = 0;
        qint64 bannedUntilMs = 0;
        qint64 lastFailureMs = -1;
    };

    Entry& entry(const QString& address, qint64 nowMs);

    const int failedLoginsPerMinute;
    const qint64 banMs;
    const int registrationMailsPerHour;
    QHash<QString, Entry> entries;
};

// Limits per account, whatever the address. Failed logins: past the allowed number within the
// window, the account is locked for a while, twice as long at each lock up to a cap, except
// for logins from the address of its last successful one: its owner, most likely, whom the
// guessing of others must not lock out. Names without an account are counted alike, so that a
// lock tells nothing about which accounts exist. Changes of the handle name and mail address:
// so many per minute, so that nobody turns them into a stream of database writes.
class AccountGuard
{
  public:
    struct Limits {
        int failures = 5;
        qint64 windowMs = 300000;
        qint64 lockMs = 60000;
        qint64 maxLockMs = 3600000;
        int changesPerMinute = 5;
    };

    explicit AccountGuard(const Limits& limits);

    bool isLocked(const QString& account, const QString& address, qint64 nowMs) const;
    // Counts a failed login; the length of the lock it starts, 0 when it starts none.
    qint64 recordFailure(const QString& account, qint64 nowMs);
    // A login got in: its address becomes the usual one, and unless the account is locked,
    // its failures are forgiven.
    void recordSuccess(const QString& account, const QString& address, qint64 nowMs);
    // Lifts the lock and forgets the failures; false when the account was not locked.
    bool unlock(const QString& account, qint64 nowMs);
    // Counts one change; false when the account has made too many.
    bool allowChange(quint32 userId, qint64 nowMs);
    // Drops entries whose limits have long recovered.
    void forgetOld(qint64 nowMs);

  private:
    struct Logins {
        RateWindow failures;
        qint64 lockedUntilMs = 0;
        int locks = 0;
        qint64 lastUseMs = 0;
    };
    struct Changes {
        RateWindow changes;
        qint64 lastUseMs = 0;
    };

    const Limits limits;
    QHash<QString, Logins> logins;
    // Kept apart, and longer: the usual address outlives the failures.
    QHash<QString, QString> usualAddress;
    QHash<quint32, Changes> changes;
};
