// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Starting and watching the external programs the client depends on: the port-mapping tool and
// the game engine. Text is encoded with the local codec before it reaches the operating system.

#include "match/childprocess_native.h"

#include <QString>

// Starts the program file at path. commandLine is passed as the program's whole command line; a
// caller that wants the program's name as the first word puts it there. Null when the program
// cannot be started.
ChildProcess* startProcess(const QString& path, const QString& commandLine);

// As startProcess, for the file fileName in directory dir.
ChildProcess* startProcessIn(const QString& dir, const QString& fileName,
                             const QString& commandLine);

// True while the program runs; returns at once.
bool isProcessRunning(ChildProcess* process);

// Waits at most timeoutMs for the program to end, terminates it otherwise, and frees process.
void closeProcess(ChildProcess* process, quint32 timeoutMs);
