// The report sink: a 256-byte buffer in front of the report file or the null device.
#include "report/report_sink.h"

#include <cstring>

namespace tessarwick {

namespace {

constexpr std::string_view reportSuffix = "-Tessarwick.log";

// The buffer goes out only when full (and at closing), so a report costs one write per
// 256 bytes; a failed or short write ends the run inside writeReport. The null device
// discards everything and never fails, so its writes are skipped: on a scan of a large
// file with many headers they would cost more than the search itself.
void writeOutBuffer(ReportSink& sink) {
    if (sink.buffered != 0 && !sink.discarding)
        platform::writeReport(sink.target, sink.buffer, sink.buffered);
    sink.buffered = 0;
}

}  // namespace

std::string_view reportFileName(std::string_view fileName, NumberText& storage) {
    storage.length = 0;
    for (std::string_view part : {fileName, reportSuffix}) {
        std::size_t room = maxTextLength - storage.length;
        std::size_t taken = part.size() < room ? part.size() : room;
        std::memcpy(storage.characters + storage.length, part.data(), taken);
        storage.length += taken;
    }
    return storage.view();
}

bool openReportSink(ReportSink& sink, bool writeLog, std::string_view fileName) {
    NumberText name;
    std::string_view target = writeLog ? reportFileName(fileName, name) : platform::nullDeviceName();
    sink.buffered = 0;
    sink.discarding = !writeLog;
    sink.open = platform::createReportFile(target, sink.target);
    return sink.open;
}

void writeText(ReportSink& sink, std::string_view text) {
    if (!sink.open) return;
    if (text.size() > maxTextLength) text = text.substr(0, maxTextLength);
    while (!text.empty()) {
        std::size_t room = reportBufferSize - sink.buffered;
        std::size_t taken = text.size() < room ? text.size() : room;
        std::memcpy(sink.buffer + sink.buffered, text.data(), taken);
        sink.buffered += taken;
        text.remove_prefix(taken);
        if (sink.buffered == reportBufferSize) writeOutBuffer(sink);
    }
}

void writeUnsigned(ReportSink& sink, uint32_t value) { writeText(sink, decimalText(value).view()); }

void writeSigned(ReportSink& sink, int32_t value) { writeText(sink, signedDecimalText(value).view()); }

void writeUnsigned64(ReportSink& sink, uint64_t value) { writeText(sink, decimalText(value).view()); }

void writeFixed(ReportSink& sink, long double value, int decimals) {
    writeText(sink, fixedText(value, decimals).view());
}

void endLine(ReportSink& sink) { writeText(sink, "\r\n"); }

void closeReportSink(ReportSink& sink) {
    if (!sink.open) return;
    writeOutBuffer(sink);
    platform::closeReport(sink.target);
    sink.open = false;
}

}  // namespace tessarwick
