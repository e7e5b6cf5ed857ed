#pragma once

#include "locallobbyserver.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <memory>
#include <vector>

// The permanent rooms of the test lobby, by number: "ロビー" for chat, "対戦ルーム" for the game,
// "秘密の部屋" for chat behind the password "demo".
enum TestRoom : quint32 { ChatRoom, GameRoom, LockedRoom };

// A tileparlor-bot process playing in the lobby.
class BotProcess
{
  public:
    BotProcess(quint16 port, const LobbyAccount& account, const QStringList& options);
    ~BotProcess() { stop(); }

    // Waits until the bot has said the text in its output or log.
    bool said(const QString& text);
    // Stops it the way a terminal does; its exit code, -1 when it crashed or did not end.
    int stop();
    QString log() { return output += QString::fromUtf8(process.readAll()); }

  private:
    QProcess process;
    QString output;
};

// The real lobby server with a data folder of its own: accounts made by its own subcommand, the
// permanent rooms above, its outbox, and the bots the test adds, which end before it.
class LobbySystem
{
  public:
    LobbySystem();

    bool start(const QVector<LobbyAccount>& accounts);
    // Stops the server and starts another on the same data; it listens on a new port.
    bool restart();
    quint16 port() const { return server->port(); }
    // Null when the bot did not get into its room.
    BotProcess* addBot(const LobbyAccount& account, const QStringList& options);
    // Why the last step failed, with the logs that tell.
    QString failure() const { return error; }

    // The value of the line "label: value" in the newest mail to the address that has one.
    QString mailedValue(const QString& address, const QString& label) const;

  private:
    QTemporaryDir data;
    std::unique_ptr<LocalLobbyServer> server;
    std::vector<std::unique_ptr<BotProcess>> bots;
    QString error;
};
