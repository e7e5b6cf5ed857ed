// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHostAddress>
#include <QString>

// IPv6 networks are handed out as /64 at the least: one holder has every address in it.
constexpr int ipv6GroupPrefix = 64;

// The network of a client address, as text ("192.0.2.0/24", "2001:db8:1:2::/64"): whoever
// holds one address of it usually holds the others too, so limits per address count networks.
// An IPv4-mapped IPv6 address belongs to its IPv4 network.
QString addressGroup(const QHostAddress& address, int ipv4Prefix);
