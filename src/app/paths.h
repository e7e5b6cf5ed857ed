// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// dir and fileName joined by the platform's separator, unless dir already ends in "/" or a
// backslash (folders may come from Qt, which writes "/" everywhere, or from Windows settings).
// An empty dir leaves the bare file name.
QString joinPath(const QString& dir, const QString& fileName);

// Where a file installed with the client lies. A build tree and the Windows layout keep it beside
// the executable; an installation keeps helpers in libexec/tileparlor and data in share/tileparlor
// of its prefix, found from the executable's own folder so that any prefix works (a package under
// /usr, a trial install under a scratch folder). Beside the executable wins; empty when neither
// holds the file.
enum class Shipped { Helper, Data };
QString shippedFile(const QString& fileName, Shipped kind, const QString& executableDir);
