// The closing block of a finished run's report.
#include "report/run_summary.h"

#include <iterator>
#include <string_view>

#include "platform/platform.h"

namespace tessarwick {

namespace {

// Every row label is 26 characters, so the counters line up in column 27.
struct CounterRow {
    std::string_view label;
    uint16_t RunCounters::*counter;
};

constexpr CounterRow headerRows[] = {
    {"  horizontal size pat.  : ", &RunCounters::horizontalSizePatched},
    {"  vertical size patched : ", &RunCounters::verticalSizePatched},
    {"  aspect ratio patched  : ", &RunCounters::aspectRatioPatched},
    {"  frame rate patched    : ", &RunCounters::frameRatePatched},
    {"  bit rate patched      : ", &RunCounters::bitRatePatched},
    {"  vbv buffer size pat.  : ", &RunCounters::vbvBufferSizePatched},
    {"  constrained param.pat.: ", &RunCounters::constrainedParametersPatched},
};

constexpr CounterRow extensionRows[] = {
    {"  profile patched       : ", &RunCounters::profilePatched},
    {"  level patched         : ", &RunCounters::levelPatched},
    {"  progressive seq. pat. : ", &RunCounters::progressiveSequencePatched},
    {"  chroma subsampl. pat. : ", &RunCounters::chromaFormatPatched},
};

static_assert(
    [] {
        for (const CounterRow& row : headerRows)
            if (row.label.size() != 26) return false;
        for (const CounterRow& row : extensionRows)
            if (row.label.size() != 26) return false;
        return true;
    }(),
    "every counter label is 26 characters long");

// "found N, patched M" or, when nothing was found (or the 16-bit count wrapped to 0), a
// hint that the file may not be what the user thinks.
void writeTotalsLine(ReportSink& report, std::string_view foundText, uint16_t found, uint16_t patched,
                     std::string_view noneFoundText) {
    writeText(report, foundText);
    writeUnsigned(report, found);
    if (found == 0) {
        writeText(report, noneFoundText);
    } else {
        writeText(report, ", patched ");
        writeUnsigned(report, patched);
    }
    endLine(report);
}

void writeCounterRows(ReportSink& report, const RunCounters& counters, const CounterRow* rows,
                      std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        writeText(report, rows[i].label);
        writeUnsigned(report, counters.*rows[i].counter);
        endLine(report);
    }
}

}  // namespace

SummaryFigures summaryFigures(uint32_t startTick, uint32_t nowTick, uint64_t fileSizeBytes) {
    SummaryFigures figures;
    // Unsigned 32-bit arithmetic wraps like the tick itself; the 5 ms make every run shown
    // slightly longer than measured and keep the rate's divisor above 0.
    figures.elapsedMs = nowTick - startTick + 5u;
    // Both integers fit the 64-bit mantissa of the extended format exactly.
    auto elapsed = static_cast<long double>(figures.elapsedMs);
    auto bytes = static_cast<long double>(fileSizeBytes);
    figures.seconds = elapsed / 1000.0L;
    figures.megabytes = bytes / 1048576.0L;  // 2^20 bytes, so exact
    figures.rate = (bytes / elapsed) / 1048.576L;
    return figures;
}

void writeRunSummary(ReportSink& report, const RunCounters& counters, bool patchAll, uint32_t startTick,
                     uint64_t fileSizeBytes) {
    writeTotalsLine(report, "# Sequenceheader found ", counters.headersFound, counters.headersPatched,
                    ", maybe not an mpg-video file?");
    writeCounterRows(report, counters, headerRows, std::size(headerRows));
    writeTotalsLine(report, "# Sequence extension found ", counters.extensionsFound,
                    counters.extensionsPatched, ", maybe not an mpg2-video file?");
    writeCounterRows(report, counters, extensionRows, std::size(extensionRows));

    SummaryFigures figures = summaryFigures(startTick, platform::tickMilliseconds(), fileSizeBytes);
    writeText(report, "# time taken ");
    writeFixed(report, figures.seconds, 2);
    writeText(report, " sec.");
    if (patchAll) {
        writeText(report, ", data read ");
        writeFixed(report, figures.megabytes, 1);
        writeText(report, " MB (");
        writeFixed(report, figures.rate, 1);
        writeText(report, " MB/s)");
    }
    endLine(report);
}

}  // namespace tessarwick
