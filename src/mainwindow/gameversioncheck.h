// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QVector>

class QWidget;

struct GameVersion {
    uint gameId;
    quint32 latestVersion;
};

// The games the client checks after login, with the newest version released of each.
QVector<GameVersion> latestGameVersions();

// Compares each game's installed version file with its latest version and tells the user about
// missing or unreadable files and about any other installed version. Never stops the program.
void checkGameVersions(QWidget* parent, const QVector<GameVersion>& games);
