// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/globals.h"

#include <QSettings>
#include <QString>
#include <QTemporaryDir>

// Fresh settings stores in a temporary folder, opened the way the program opens them, and a
// local codec. Child processes started afterwards see the same folders through XDG_CONFIG_*.
class TestEnvironment
{
  public:
    TestEnvironment();
    ~TestEnvironment();

    QString userSettingsFile() const { return userSettings->fileName(); }
    QString path(const QString& name) const { return dir.filePath(name); }

  private:
    QTemporaryDir dir;
};
