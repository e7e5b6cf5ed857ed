// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/gameversioncheck.h"

#include "app/gameinfo.h"
#include "mainwindow/updatedialog.h"

#include <QFile>
#include <QMessageBox>
#include <QtEndian>

QVector<GameVersion> latestGameVersions()
{
    return {{knownGameId, TILEPARLOR_GAME0_LATEST_VERSION}};
}

static void checkGameVersion(QWidget* parent, const GameVersion& game)
{
    const QString title = gameTitle(game.gameId);
    const QString path = gameFilePath(game.gameId, "ver.");
    if (path.isEmpty())
        return;
    const QString failed = title + "のバージョンチェックに失敗しました。\n";
    QFile file(path);
    if (!file.exists()) {
        QMessageBox::information(
            parent, "バージョンチェック",
            failed + "(インストールしたフォルダから手動で移動したりすると発生します)",
            QMessageBox::Ok);
        return;
    }
    uchar bytes[4];
    if (!file.open(QIODevice::ReadOnly) || file.read(reinterpret_cast<char*>(bytes), 4) != 4) {
        QMessageBox::information(parent, "バージョンチェック",
                                 failed + "ファイルが読み込めません。", QMessageBox::Ok);
        return;
    }
    if (qFromBigEndian<quint32>(bytes) == game.latestVersion)
        return;
    UpdateDialog notice(parent,
                        "新しい" + title + "がリリースされています。\n" +
                            "TILEWORKのホームページで新しいファイルを入手して、\n" +
                            "バージョンアップすることをお勧めします。",
                        "\n");
    notice.exec();
}

void checkGameVersions(QWidget* parent, const QVector<GameVersion>& games)
{
    for (const GameVersion& game : games)
        checkGameVersion(parent, game);
}
