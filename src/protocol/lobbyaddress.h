#pragma once

#include <QString>

// The lobby server's host: TILEPARLOR_LOBBY_HOST from the environment, else the one compiled in.
QString lobbyHost();
// The lobby server's port: TILEPARLOR_LOBBY_PORT from the environment, else 14142.
quint16 lobbyPort();
