#include "match/childprocess.h"

#include "app/globals.h"

ChildProcess* startProcess(const QString& path, const QString& commandLine)
{
    const QByteArray encodedPath = toLocalBytes(path);
    const QByteArray encodedCommandLine = toLocalBytes(commandLine);
    return startNativeProcess(encodedPath.constData(), encodedCommandLine.constData());
}

QString joinProcessPath(const QString& dir, const QString& fileName)
{
    // Both separators count as already there: the directory may come from Qt, which writes "/"
    // on every platform.
    if (dir.isEmpty())
        return fileName;
    if (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\')))
        return dir + fileName;
    return dir + QLatin1Char(nativePathSeparator) + fileName;
}

ChildProcess* startProcessIn(const QString& dir, const QString& fileName,
                             const QString& commandLine)
{
    return startProcess(joinProcessPath(dir, fileName), commandLine);
}

bool isProcessRunning(ChildProcess* process)
{
    return isNativeProcessRunning(process);
}

void closeProcess(ChildProcess* process, quint32 timeoutMs)
{
    closeNativeProcess(process, timeoutMs);
}
