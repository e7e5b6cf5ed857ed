// SPDX-License-Identifier: GPL-3.0-or-later
#include "match/childprocess.h"

#include "app/globals.h"
#include "app/paths.h"

ChildProcess* startProcess(const QString& path, const QString& commandLine)
{
    const QByteArray encodedPath = toLocalBytes(path);
    const QByteArray encodedCommandLine = toLocalBytes(commandLine);
    return startNativeProcess(encodedPath.constData(), encodedCommandLine.constData());
}

ChildProcess* startProcessIn(const QString& dir, const QString& fileName,
                             const QString& commandLine)
{
    return startProcess(joinPath(dir, fileName), commandLine);
}

bool isProcessRunning(ChildProcess* process)
{
    return isNativeProcessRunning(process);
}

void closeProcess(ChildProcess* process, quint32 timeoutMs)
{
    closeNativeProcess(process, timeoutMs);
}
