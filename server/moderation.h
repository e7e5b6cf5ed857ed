// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class Lobby;
class Notifier;
class StoreWorker;
struct ServerConfig;

// An operator's commands from the control socket: who is online, kicks, mutes, bans of accounts
// and address ranges (stored, so they outlast restarts; the login checks them) and the system
// message, each kept in the audit (the store's and the log), and the audit itself.
class Moderation : public QObject
{
  public:
    Moderation(Lobby& lobby, Notifier& notifier, ServerConfig& config, StoreWorker& store);

    // Runs the command of the operator (a user name) and answers it, now or once the store has:
    // its lines, or "error: WHY".
    void control(const QString& operatorName, const QStringList& words,
                 const std::function<void(const QStringList&)>& answer);

  private:
    // The answer of a command that changes the lobby, empty when it was done.
    QStringList moderate(const QStringList& words);
    QStringList kick(const QString& account, const QString& reason);
    void changeBan(const QString& operatorName, const QStringList& words,
                   const std::function<void(const QStringList&)>& answer);
    void audit(const QString& operatorName, const QStringList& words);

    Lobby& lobby;
    Notifier& notifier;
    ServerConfig& config;
    StoreWorker& store;
};
