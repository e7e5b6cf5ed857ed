#pragma once

#include "ratewindow.h"

#include <QHash>
#include <QString>

// Failed logins per address: past the allowed number within a minute, every login from that
// address is refused for a while, right or wrong.
class LoginGuard
{
  public:
    LoginGuard(int failuresPerMinute, int banSeconds);

    bool isBanned(const QString& address, qint64 nowMs) const;
    // Returns true when this failure starts a ban.
    bool recordFailure(const QString& address, qint64 nowMs);
    // Drops addresses whose ban and failures are long past, so the table does not grow.
    void forgetOld(qint64 nowMs);

  private:
    struct Entry {
        RateWindow failures;
        qint64 lastFailureMs = 0;
        qint64 bannedUntilMs = 0;
    };

    const int failuresPerMinute;
    const qint64 banMs;
    QHash<QString, Entry> entries;
};
