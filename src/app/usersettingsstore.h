// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
#include <QString>

using SettingValues = QList<QPair<QString, QString>>;

// Writes the values to userSettings in the given order and puts them on disk before returning: a
// dialog reports the change as done right after, and the server may end the program at any
// moment from then on.
void storeUserSettings(const SettingValues& values);
