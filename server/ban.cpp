// SPDX-License-Identifier: GPL-3.0-or-later
#include "ban.h"

#include <QHostAddress>

bool Ban::covers(const QString& account, const QString& address) const
{
    if (kind == "account")
        return target.compare(account, Qt::CaseInsensitive) == 0;
    const auto range = QHostAddress::parseSubnet(target);
    return range.second >= 0 && QHostAddress(address).isInSubnet(range);
}

bool banTargetValid(const QString& kind, const QString& target)
{
    if (kind == "account")
        return !target.isEmpty();
    return kind == "range" && QHostAddress::parseSubnet(target).second >= 0;
}
