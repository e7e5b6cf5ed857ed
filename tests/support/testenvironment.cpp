// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/testenvironment.h"

#include "app/globals.h"
#include "app/startup.h"

#include <QSettings>
#include <QTextCodec>

#include <utility>

TestEnvironment::TestEnvironment()
{
    const QString user = dir.filePath("user");
    const QString system = dir.filePath("system");
    qputenv("XDG_CONFIG_HOME", user.toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", system.toLocal8Bit());
    // QSettings reads the XDG variables once per process; later environments need setPath.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, user);
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, system);
    delete userSettings;
    delete machineSettings;
    openSettingsStores();
    localCodec = QTextCodec::codecForName("UTF-8");
}

TestEnvironment::~TestEnvironment()
{
    delete std::exchange(userSettings, nullptr);
    delete std::exchange(machineSettings, nullptr);
}
