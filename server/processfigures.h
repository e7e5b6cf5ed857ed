// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// CPU seconds, user and system, from a stat file of /proc: /proc/self/stat, /proc/PID/stat or,
// for one thread, /proc/PID/task/TID/stat. 0 when it cannot be read.
double cpuSecondsFrom(const QString& statFile);
