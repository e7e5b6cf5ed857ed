// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"

#include "app/globals.h"
#include "match/childprocess_native.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextCodec>

QTextCodec* chooseLocalCodec(QTextCodec* localeCodec, const CodecLookup& byName)
{
    if (localeCodec)
        return localeCodec;
    for (const char* name : {"SJIS", "Shift-JIS", "ja_JP.SJIS"}) {
        if (QTextCodec* codec = byName(name))
            return codec;
    }
    return nullptr;
}

void setUpLocalCodec(QTextCodec* localeCodec, const CodecLookup& byName)
{
    localCodec = chooseLocalCodec(localeCodec, byName);
    if (!localCodec)
        fatalError("テキストコーデックが見つかりませんでした");
}

static void restrictToOwner(const QString& path)
{
    QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    // QSettings saves through a temporary file that takes over the permissions of the existing
    // one, so creating the file with owner-only rights once keeps every later save private.
    QFile file(path);
    if (!file.exists() && !file.open(QIODevice::WriteOnly))
        return;
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void openSettingsStores()
{
    userSettings = new QSettings(QSettings::UserScope, "TILEWORK", "tileParlor");
    machineSettings = new QSettings(QSettings::SystemScope, "TILEWORK", "Settings");
#ifndef Q_OS_WIN
    restrictToOwner(userSettings->fileName());
#endif
}

void prepareClientProcess()
{
    ignoreBrokenPipeSignal();
    setUpLocalCodec(QTextCodec::codecForLocale(),
                    [](const QByteArray& name) { return QTextCodec::codecForName(name); });
    openSettingsStores();
}
