#pragma once

#include <QtGlobal>

// Counters for the periodic metrics line.
struct Metrics {
    quint64 framesIn = 0;
    quint64 framesOut = 0;
    // Every refusal, whether the log shows it or only sums it up.
    quint64 refusals = 0;
    // Connections ended by a deadline: no hello, no login, a frame left unfinished.
    quint64 timeouts = 0;
    // Connections ended for too many refusals.
    quint64 offenders = 0;
    // Times the server stopped accepting because it ran out of descriptors or memory.
    quint64 acceptPauses = 0;
    // Connections open and not logged in (a gauge, not a counter).
    int notLoggedIn = 0;
};
