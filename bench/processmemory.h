// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// Resident and peak resident memory of a process, in KiB, from /proc/PID/status.
struct ProcessMemory {
    qint64 rssKiB = -1;
    qint64 peakKiB = -1;
};
ProcessMemory processMemory(qint64 pid);
