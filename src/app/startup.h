// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <functional>

class QTextCodec;

using CodecLookup = std::function<QTextCodec*(const QByteArray& name)>;

// The locale's codec when there is one, else the first Shift-JIS codec known under any of its
// names; null when none exists.
QTextCodec* chooseLocalCodec(QTextCodec* localeCodec, const CodecLookup& byName);

// Sets localCodec from the system's codecs, or ends the program when none is usable.
void setUpLocalCodec(QTextCodec* localeCodec, const CodecLookup& byName);

// Opens userSettings and machineSettings. The user store holds the password in plain text, so on
// POSIX its file is kept readable by its owner only.
void openSettingsStores();

// What the process needs before its first window: no death by a closed pipe, the local codec and
// the settings stores.
void prepareClientProcess();
