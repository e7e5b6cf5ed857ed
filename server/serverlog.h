// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

// The text with every control character written as an escape (\n, \x1b, \u2028, and \\ for a
// backslash): a value a client chose can then neither start a log line of its own nor send
// orders to the terminal that shows the log.
QString escapeControls(QStringView text);

// Sends every message of the process through escapeControls to stderr, each line stamped with
// the time.
void installServerLog();
