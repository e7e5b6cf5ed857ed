// SPDX-License-Identifier: GPL-3.0-or-later
#include "addressgroup.h"

QString addressGroup(const QHostAddress& address, int ipv4Prefix)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4) {
        const quint32 mask = ipv4Prefix <= 0 ? 0 : ~quint32(0) << (32 - qMin(ipv4Prefix, 32));
        return QString("%1/%2").arg(QHostAddress(ipv4 & mask).toString()).arg(ipv4Prefix);
    }
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = ipv6GroupPrefix / 8; i < 16; ++i)
        bytes[i] = 0;
    return QString("%1/%2").arg(QHostAddress(bytes).toString()).arg(ipv6GroupPrefix);
}
