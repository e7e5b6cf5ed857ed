// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The lobby server's host: TILEPARLOR_LOBBY_HOST from the environment, else the one compiled in.
QString lobbyHost();
// The lobby server's port: TILEPARLOR_LOBBY_PORT from the environment, else 14142.
quint16 lobbyPort();
// Whether the lobby is reached over TLS: TILEPARLOR_LOBBY_TLS from the environment ("1" or "0"),
// else the choice compiled in (plain by default).
bool lobbyUsesTls();
// The PEM file of the CAs a TLS lobby's certificate must come from: TILEPARLOR_LOBBY_CA from the
// environment, else the one compiled in; empty: the system's trust store.
QString lobbyCaFile();
