// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// An operator's ban of an account (by name, in any letter case) or of an address range (CIDR,
// such as 203.0.113.0/24 or 2001:db8::/32), for good or until a time.
struct Ban {
    QString kind; // "account" or "range"
    QString target;
    qint64 until = 0; // seconds since the epoch; 0: for good
    QString reason;

    bool covers(const QString& account, const QString& address) const;
};

// Whether target is a well-formed target of a ban of that kind.
bool banTargetValid(const QString& kind, const QString& target);
