// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/paths.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
static const QChar nativeSeparator = '\\';
#else
static const QChar nativeSeparator = '/';
#endif

QString joinPath(const QString& dir, const QString& fileName)
{
    if (dir.isEmpty() || dir.endsWith('/') || dir.endsWith('\\'))
        return dir + fileName;
    return dir + nativeSeparator + fileName;
}

QString shippedFile(const QString& fileName, Shipped kind, const QString& executableDir)
{
    const QString installed =
        kind == Shipped::Helper ? TILEPARLOR_LIBEXEC_FROM_BIN : TILEPARLOR_DATA_FROM_BIN;
    for (const QString& dir : {executableDir, joinPath(executableDir, installed)}) {
        const QFileInfo file(joinPath(dir, fileName));
        if (file.isFile())
            return file.absoluteFilePath();
    }
    return {};
}
