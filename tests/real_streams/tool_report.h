// The tool's report read back into numbers: each found header and extension with the current
// value and the verdict of every field line, and the run summary's counters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace tessarwick::testing {

// Field lines in the order the report writes them.
enum HeaderField {
    kHorizontalSize,
    kVerticalSize,
    kAspectRatio,
    kFrameRate,
    kBitRate,
    kVbvBufferSize,
    kConstrainedParameters,
    kHeaderFieldCount
};
enum ExtensionField { kProfile, kLevel, kProgressiveSequence, kChromaFormat, kExtensionFieldCount };

// One field line. Numbers are the leading numbers of the texts: pixels, codes, flags, the bit
// rate in bit/s ("9800000 bps"), the vbv buffer size in 16384-bit units ("112 (224 kB)").
struct ReportedField {
    int64_t current = -1;
    bool patched = false;
    int64_t patchedTo = -1;
};

struct ReportedExtension {
    uint64_t offset = 0;  // file offset of extension byte 4
    std::array<ReportedField, kExtensionFieldCount> fields{};
    bool anyPatched() const;
};

struct ReportedHeader {
    uint64_t offset = 0;  // file offset of header byte 4
    std::array<ReportedField, kHeaderFieldCount> fields{};
    bool hasExtension = false;
    ReportedExtension extension;
    bool anyPatched() const;
};

struct ReportSummary {
    bool present = false;
    int64_t headersFound = -1;
    int64_t headersPatched = -1;  // -1 after ", maybe not an mpg-video file?"
    std::array<int64_t, kHeaderFieldCount> headerFieldsPatched{};
    int64_t extensionsFound = -1;
    int64_t extensionsPatched = -1;  // -1 after ", maybe not an mpg2-video file?"
    std::array<int64_t, kExtensionFieldCount> extensionFieldsPatched{};
};

struct ToolReport {
    std::vector<ReportedHeader> headers;
    ReportSummary summary;
    std::string problems;  // lines that do not read as the report's lines should

    std::size_t extensionCount() const;
};

ToolReport parseToolReport(const std::string& text);

// Where the summary's counters disagree with the header and extension lines above them; empty
// when they all agree.
std::string summaryDisagreements(const ToolReport& report);

// The file offsets where `after` differs from `before` outside what the report claims to have
// patched: bytes 4 to 11 of a header with a patched field (4 to 10 when a container's start code
// prefix begins at byte 11), bytes 4 and 5 of an extension with a patched field, and bytes 6 to 9
// of the extension of a patched header (its extension bits of the patched fields are cleared).
std::vector<std::size_t> unclaimedChanges(const Bytes& before, const Bytes& after, const ToolReport& report);

}  // namespace tessarwick::testing
