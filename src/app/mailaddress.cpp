// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mailaddress.h"

bool looksLikeMailAddress(const QString& address)
{
    return address.contains('@') && address.contains('.');
}
