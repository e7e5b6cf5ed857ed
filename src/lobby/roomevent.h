// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// One room event as the server sent it, queued by the lobby until the room (and,
// for match events, the local match) have taken it.
struct RoomEvent {
    quint32 eventKind = 0;
    quint32 roomId = 0;
    quint32 userId = 0;
    quint32 otherId = 0;
    quint32 value = 0;
    quint32 reserved = 0;
    QString text;
};
