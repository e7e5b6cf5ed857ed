// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

class QSettings;
class QTextCodec;

// Process-wide state, set up once by main() and read from the GUI thread only.
extern uint ownUserId;
extern QTextCodec* localCodec;
extern QSettings* userSettings;
extern QSettings* machineSettings;

// Reports a state the program cannot continue from and ends the process with exit code 1.
[[noreturn]] void fatalError(const QString& message);

// Ends the process with the given code after the settings stores reached the disk.
[[noreturn]] void exitProcess(int code);

// Text for 8-bit operating-system interfaces (command lines, the game engine).
QByteArray toLocalBytes(const QString& text);
