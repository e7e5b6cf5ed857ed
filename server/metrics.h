// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>

// Counters for the periodic metrics line and the monitoring endpoint.
struct Metrics {
    quint64 framesIn = 0;
    quint64 framesOut = 0;
    // Every refusal, whether the log shows it or only sums it up; and by what was refused.
    quint64 refusals = 0;
    QHash<QString, quint64> refusalsByKind;
    // Requests taken, by request code (known codes only).
    QHash<quint32, quint64> requests;
    // Connections ended because their client stopped reading its replies and events.
    quint64 slowReaders = 0;
    // Connections ended by a deadline: no hello, no login, a frame left unfinished.
    quint64 timeouts = 0;
    // Connections ended for too many refusals.
    quint64 offenders = 0;
    // Times the server stopped accepting because it ran out of descriptors or memory.
    quint64 acceptPauses = 0;
    // Connections open and not logged in (a gauge, not a counter).
    int notLoggedIn = 0;

    void countRefusal(const QString& what);
};

// What a refusal refused: its text up to the first ": ", numbers as #. The texts name accounts,
// addresses and titles only after that, so the kinds stay few whatever the clients send.
QString refusalKind(const QString& refusal);
