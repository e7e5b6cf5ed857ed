// SPDX-License-Identifier: GPL-3.0-or-later
#include "botswarm.h"

#include "botplayer.h"

namespace
{
// Logins in flight at once.
constexpr int startWindow = 32;
} // namespace

BotSwarm::BotSwarm(const BotSettings& settings, int connections, QObject* parent)
    : QObject(parent), common(settings), total(connections)
{
}

BotSettings BotSwarm::settingsFor(int number) const
{
    BotSettings settings = common;
    const QString text = QString::number(number);
    settings.account.replace("%1", text);
    settings.password.replace("%1", text);
    settings.name.replace("%1", text);
    return settings;
}

void BotSwarm::start()
{
    launchMore();
}

void BotSwarm::launchMore()
{
    // The room's creator goes alone; the others follow it in once the room exists.
    const int window = common.createTitle.isEmpty() ? startWindow : 1;
    while (!stopping && launched < total && starting < window) {
        auto* bot = new BotPlayer(settingsFor(++launched), this);
        bots.append(bot);
        ++starting;
        connect(bot, &BotPlayer::ready, this, [this, bot] { botReady(bot); });
        connect(bot, &BotPlayer::finished, this,
                [this, bot](int exitCode) { botFinished(bot, exitCode); });
        bot->start();
    }
}

void BotSwarm::botReady(BotPlayer* bot)
{
    --starting;
    if (!common.createTitle.isEmpty()) {
        common.createTitle.clear();
        common.room = QString::number(bot->roomId());
    }
    ++readyCount;
    reportWhenSettled();
    launchMore();
}

void BotSwarm::reportWhenSettled()
{
    if (readyCount + gaveUp == total)
        emit settled(readyCount, total);
}

void BotSwarm::botFinished(BotPlayer* bot, int exitCode)
{
    worstExit = qMax(worstExit, exitCode);
    ++finishedCount;
    if (!bot->isReady()) {
        // One bot that could not get in does not keep the others from starting.
        --starting;
        ++gaveUp;
        reportWhenSettled();
        launchMore();
    }
    if (finishedCount == launched && (stopping || launched == total))
        emit finished(worstExit);
}

void BotSwarm::stop()
{
    if (stopping)
        return;
    stopping = true;
    if (finishedCount == launched) {
        emit finished(worstExit);
        return;
    }
    for (BotPlayer* bot : bots)
        bot->stop();
}
