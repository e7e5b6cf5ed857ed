// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "botsettings.h"

#include <QStringList>

struct BotCommandLine {
    BotSettings settings;
    int connections = 1;
};

// Reads the bot's options; prints help or version and exits the way QCommandLineParser does.
// On a bad value returns false with the reason in error.
bool parseBotCommandLine(const QStringList& arguments, BotCommandLine& out, QString& error);
