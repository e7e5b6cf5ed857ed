// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbywire.h"

#include <QString>

// Game 0 is the one game the lobby serves; chatOnlyGameId marks a room without one.
constexpr uint knownGameId = 0;

QString gameTitle(uint gameId);

// Path of fileName in the game's installation folder, or "" when the installer left no folder.
QString gameFilePath(uint gameId, const QString& fileName);
