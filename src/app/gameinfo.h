#pragma once

#include <QString>

// Game 0 is the one game the lobby serves; all bits set marks a chat-only room.
constexpr uint knownGameId = 0;
constexpr uint chatOnlyGameId = 0xFFFFFFFFu;

QString gameTitle(uint gameId);

// Path of fileName in the game's installation folder, or "" when the installer left no folder.
QString gameFilePath(uint gameId, const QString& fileName);
