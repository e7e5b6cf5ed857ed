// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// dir and fileName joined by the platform's separator, unless dir already ends in "/" or a
// backslash (folders may come from Qt, which writes "/" everywhere, or from Windows settings).
// An empty dir leaves the bare file name.
QString joinPath(const QString& dir, const QString& fileName);
