// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/paths.h"

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
