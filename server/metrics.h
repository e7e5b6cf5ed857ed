#pragma once

#include <QtGlobal>

// Counters for the periodic metrics line.
struct Metrics {
    quint64 framesIn = 0;
    quint64 framesOut = 0;
    quint64 refusals = 0;
};
