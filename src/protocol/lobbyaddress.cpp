// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/lobbyaddress.h"

#include "lobbywire.h"

#include <QtGlobal>

QString lobbyHost()
{
    const QString host = qEnvironmentVariable("TILEPARLOR_LOBBY_HOST");
    return host.isEmpty() ? QStringLiteral(TILEPARLOR_LOBBY_HOST) : host;
}

quint16 lobbyPort()
{
    bool ok = false;
    const uint port = qEnvironmentVariable("TILEPARLOR_LOBBY_PORT").toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : defaultLobbyPort;
}

bool lobbyUsesTls()
{
    const QString chosen = qEnvironmentVariable("TILEPARLOR_LOBBY_TLS");
    if (chosen == "1" || chosen == "0")
        return chosen == "1";
    return TILEPARLOR_LOBBY_TLS;
}

QString lobbyCaFile()
{
    const QString file = qEnvironmentVariable("TILEPARLOR_LOBBY_CA");
    return file.isEmpty() ? QStringLiteral(TILEPARLOR_LOBBY_CA) : file;
}
