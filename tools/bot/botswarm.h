// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "botsettings.h"

#include <QObject>
#include <QVector>

class BotPlayer;

// Many bots in one process, one connection each, started a few at a time so that a crowd logs in
// without flooding the server's listen queue. In account, password and name, "%1" becomes the
// bot's number, counting from 1.
class BotSwarm : public QObject
{
    Q_OBJECT

  public:
    BotSwarm(const BotSettings& settings, int connections, QObject* parent = nullptr);

    void start();
    // Every bot quits; finished() follows when the last connection has ended.
    void stop();

  signals:
    // Every bot is in place or has given up; ready of them are in place.
    void settled(int ready, int total);
    // 0 when every connection ended in order.
    void finished(int exitCode);

  private:
    BotSettings settingsFor(int number) const;
    void launchMore();
    void botReady(BotPlayer* bot);
    void reportWhenSettled();
    void botFinished(BotPlayer* bot, int exitCode);

    BotSettings common;
    int total;
    int launched = 0;
    int starting = 0;
    int readyCount = 0;
    int gaveUp = 0;
    int finishedCount = 0;
    int worstExit = 0;
    bool stopping = false;
    QVector<BotPlayer*> bots;
};
