// SPDX-License-Identifier: GPL-3.0-or-later
#include "processmemory.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace
{
qint64 statusField(const QByteArray& status, const QByteArray& field)
{
    const qsizetype at = status.indexOf("\n" + field + ":");
    if (at < 0)
        return -1;
    const qsizetype end = status.indexOf('\n', at + 1);
    return status.mid(at + field.size() + 2, end - at - field.size() - 2)
        .replace("kB", "")
        .trimmed()
        .toLongLong();
}
} // namespace

ProcessMemory processMemory(qint64 pid)
{
    QFile file(QString("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray status = "\n" + file.readAll();
    return {statusField(status, "VmRSS"), statusField(status, "VmHWM")};
}
