// SPDX-License-Identifier: GPL-3.0-or-later
#include "clientlobby.h"

#include "mainwindow/mainwindow.h"
#include "app/startup.h"
#include "rooms/chatroomlistform.h"

#include <QDir>
#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

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

int driveClient(int argc, char** argv, int roomsToOpen)
{
    QApplication app(argc, argv);
    prepareClientProcess();
    MainWindow window;
    window.show();

    QTimer hand;
    QObject::connect(&hand, &QTimer::timeout, [&] {
        auto* tabs = window.findChild<QTabWidget*>("tabWidget");
        auto* list = window.findChild<ChatRoomListForm*>();
        // One room at a time: the next click waits until the last room's tab is in.
        if (!list || !window.isEnabled())
            return;
        const int open = tabs->count() - 1;
        if (open == roomsToOpen) {
            hand.stop();
            std::printf("rooms open\n");
            std::fflush(stdout);
            return;
        }
        tabs->setCurrentWidget(list);
        for (QPushButton* row : list->findChildren<QPushButton*>()) {
            const uint roomId = row->text().section(' ', 0, 0).mid(3).toUInt();
            if (row->isEnabled() && row->text().startsWith("No.") &&
                !window.lobby().router().room(roomId)) {
                row->click();
                return;
            }
        }
    });
    hand.start(50);
    return app.exec();
}
