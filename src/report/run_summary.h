// The closing block of a finished run's report: totals, per-field counts, time and rate.
#pragma once

#include <cstdint>

#include "report/report_sink.h"
#include "scan/run_counters.h"

namespace tessarwick {

struct SummaryFigures {
    uint32_t elapsedMs = 0;     // now - startTick + 5, modulo 2^32
    long double seconds = 0;    // elapsedMs / 1000
    long double megabytes = 0;  // fileSizeBytes * 2^-20
    long double rate = 0;       // (fileSizeBytes / elapsedMs) / 1048.576, in MB/s
};

SummaryFigures summaryFigures(uint32_t startTick, uint32_t nowTick, uint64_t fileSizeBytes);

// Reads the tick counter once, after the counter lines.
void writeRunSummary(ReportSink& report, const RunCounters& counters, bool patchAll, uint32_t startTick,
                     uint64_t fileSizeBytes);

}  // namespace tessarwick
