// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/wire.h"

// Kept apart from wire.h: the bot's LobbyClient has a RoomInfo of its own.

// One GetRoomInfo answer; a room that exists unless status says otherwise.
struct RoomInfo {
    QString title;
    quint32 userCount = 1, capacity = 8, gameId = chatOnlyGameId, flags = 0, nextRoomId = noRoom;
    quint32 status = 0;
};

inline QByteArray roomInfoReply(const RoomInfo& info)
{
    return frameBytes(RoomInfoReply{info.status, info.flags, info.title, info.userCount,
                                    info.capacity, info.gameId, info.nextRoomId});
}
