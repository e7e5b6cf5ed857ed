// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/gameinfo.h"

#include "app/globals.h"
#include "app/paths.h"

#include <QSettings>

QString gameTitle(uint gameId)
{
    return gameId == knownGameId ? QStringLiteral("星環演武") : QStringLiteral("unknown title");
}

QString gameFilePath(uint gameId, const QString& fileName)
{
    if (gameId != knownGameId)
        fatalError(
            QString("なぜか知らないゲームのファイルを探そうとした (game id %1)").arg(gameId));
    const QString folder = machineSettings->value("SeikanEmbu", "").toString();
    return folder.isEmpty() ? QString("") : joinPath(folder, fileName);
}
