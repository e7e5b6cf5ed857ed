#include "clientlobby.h"

#include <QDir>
#include <QFile>

#include <cstdio>

ClientLobby::ClientLobby() : lobby(SERVER_PROGRAM, folder.filePath("server")) {}

bool ClientLobby::start(const QByteArray& serverConfig, const QVector<LobbyAccount>& accounts)
{
    QString error;
    QDir().mkpath(folder.filePath("server"));
    if (!lobby.writeConfig(serverConfig) || !lobby.createAccounts(accounts, error) ||
        !lobby.start(error)) {
        std::fprintf(stderr, "server: %s\n", qPrintable(error));
        return false;
    }
    const QString config = folder.filePath("config/TILEWORK");
    QDir().mkpath(config);
    QDir().mkpath(folder.filePath("xdg"));
    QFile settings(config + "/tileParlor.conf");
    const LobbyAccount& account = accounts.first();
    if (!settings.open(QIODevice::WriteOnly) ||
        settings.write("[account]\nid=" + account.name.toUtf8() +
                       "\npassword=" + account.password.toUtf8() + "\n") < 0) {
        std::fprintf(stderr, "client settings not written: %s\n",
                     qPrintable(settings.errorString()));
        return false;
    }
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", folder.filePath("config"));
    environment.insert("XDG_CONFIG_DIRS", folder.filePath("xdg"));
    environment.insert("TILEPARLOR_LOBBY_HOST", "127.0.0.1");
    environment.insert("TILEPARLOR_LOBBY_PORT", QString::number(lobby.port()));
    return true;
}
