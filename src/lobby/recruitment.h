// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QVector>

// One recruit hosted in a room, kept while its game runs: the host and, in the order they
// applied, the other players.
struct Recruitment {
    uint hostId = 0;
    QVector<uint> applicants;
};
