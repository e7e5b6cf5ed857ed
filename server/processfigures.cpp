// SPDX-License-Identifier: GPL-3.0-or-later
#include "processfigures.h"

#include <QFile>

#include <unistd.h>

double cpuSecondsFrom(const QString& statFile)
{
    QFile file(statFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // utime and stime are fields 14 and 15, the 12th and 13th after the name's ")".
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}
