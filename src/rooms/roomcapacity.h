// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A room's capacity as the list and the room show it: above 10000 the room admits anyone.
inline QString capacityText(quint32 capacity)
{
    return capacity > 10000 ? QString("無制限") : QString::number(capacity);
}
