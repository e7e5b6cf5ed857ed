// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class Store;
struct ServerOptions;

// Runs an account subcommand against the store and returns the process's exit code.
int runAccountCommand(const ServerOptions& options, Store& store, int passwordIterations);
