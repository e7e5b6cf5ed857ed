// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/usersettingsstore.h"

#include "app/globals.h"

#include <QDebug>
#include <QSettings>

void storeUserSettings(const SettingValues& values)
{
    for (const auto& [key, value] : values)
        userSettings->setValue(key, value);
    userSettings->sync();
    // The values stay in memory for this run, so the login still uses them; only a later start
    // would miss them.
    if (userSettings->status() != QSettings::NoError)
        qWarning() << "user settings not saved:" << userSettings->fileName()
                   << userSettings->status();
}
