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
    };

    Entry& entry(const QString& address, qint64 nowMs);

    const int failedLoginsPerMinute;
    const qint64 banMs;
    const int registrationMailsPerHour;
    QHash<QString, Entry> entries;
};
