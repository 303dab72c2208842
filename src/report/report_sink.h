// The report: where it goes, how its lines are built and ended, and how numbers become
// text. Lines end in CR LF; text is buffered 256 bytes at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "report/text_limit.h"

namespace tessarwick {

inline constexpr std::size_t reportBufferSize = 256;

struct ReportSink {
    platform::FileHandle target;
    char buffer[reportBufferSize];
    std::size_t buffered = 0;
    bool open = false;
    bool discarding = false;  // the null device: what it would take is dropped here
};

// A number or name built in a fixed buffer, then appended like any other text.
struct NumberText {
    char characters[256];
    std::size_t length = 0;
    std::string_view view() const { return {characters, length}; }
};

// The report file's name: the video file's name followed by "-Tessarwick.log", cut to
// 255 characters.
std::string_view reportFileName(std::string_view fileName, NumberText& storage);

// Creates the report file beside the video file (writeLog) or opens the null device.
bool openReportSink(ReportSink& sink, bool writeLog, std::string_view fileName);
void writeText(ReportSink& sink, std::string_view text);
void writeUnsigned(ReportSink& sink, uint32_t value);
void writeSigned(ReportSink& sink, int32_t value);
void writeUnsigned64(ReportSink& sink, uint64_t value);
// Fixed-point text of an 80-bit extended value with 1 or 2 decimals, halves away from 0.
void writeFixed(ReportSink& sink, long double value, int decimals);
void endLine(ReportSink& sink);
void closeReportSink(ReportSink& sink);

// The formatting rules, on their own so they can be checked without a sink.
NumberText decimalText(uint64_t value);
NumberText signedDecimalText(int64_t value);
NumberText hexText(uint64_t value);  // upper case, no leading zeros, "0" for zero
NumberText fixedText(long double value, int decimals);

}  // namespace tessarwick
