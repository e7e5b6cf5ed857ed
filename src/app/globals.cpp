// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/globals.h"

#include <QTextCodec>

uint ownUserId = 0;
QTextCodec* localCodec = nullptr;
QSettings* userSettings = nullptr;
QSettings* machineSettings = nullptr;

QByteArray toLocalBytes(const QString& text)
{
    return localCodec->fromUnicode(text);
}
