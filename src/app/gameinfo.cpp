#include "app/gameinfo.h"

#include "app/globals.h"

#include <QSettings>

#ifdef Q_OS_WIN
static const QChar nativeSeparator = '\\';
#else
static const QChar nativeSeparator = '/';
#endif

QString gameTitle(uint gameId)
{
    return gameId == knownGameId ? QStringLiteral("星環演武") : QStringLiteral("unknown title");
}

QString gameFilePath(uint gameId, const QString& fileName)
{
    if (gameId != knownGameId)
        fatalError(
            QString("なぜか知らないゲームのファイルを探そうとした (game id %1)").arg(gameId));
    QString path = machineSettings->value("SeikanEmbu", "").toString();
    if (path.isEmpty())
        return "";
    if (!path.endsWith('/') && !path.endsWith('\\'))
        path += nativeSeparator;
    return path + fileName;
}
