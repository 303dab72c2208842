// Reporting and patching the seven fields of an accepted sequence header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "report/report_sink.h"
#include "scan/bit_field.h"
#include "scan/run_counters.h"
#include "scan/scan_window.h"
#include "scan/sequence_header.h"

namespace tessarwick {

// Counts the header, writes its found line and seven field lines, and patches in the
// window every requested field that differs from the file.
void processSequenceHeader(ScanWindow& window, std::size_t headerOffset, const SequenceHeaderFields& fields,
                           ScanRun& run, HeaderPatchState& state);

// The field lines of the sequence header and of the sequence extension are built alike;
// what they share follows.

// The text of a code: its name, or the code in decimal followed by `unknownSuffix`.
struct CodeNames {
    std::string_view names[16];  // indexed by code; empty for a code without a name
    std::string_view unknownSuffix;
};

// "0 (false)" and "1 (true)", for the one-bit flags.
extern const CodeNames flagNames;

// How a value reads in the report.
enum class ValueForm : uint8_t {
    pixels,                // 720 px
    hundredBitsPerSecond,  // 98000 read as 9800000 bps
    bufferSize,            // 112 (224 kB): units of 16384 bits, 2 kB each
    named,                 // through a CodeNames table
};

// One patchable field: its report line, its bits, and the counter of its patches.
struct PatchableField {
    std::string_view label;  // 26 characters, colon and blank included
    ValueForm form;
    const CodeNames* names;  // for ValueForm::named
    BitField bits;
    uint8_t unitShift;  // the bits hold the value shifted right by this much
    uint16_t RunCounters::*patchCounter;
};

// A value from the PatchRequest: a given value, or nothing.
struct RequestedValue {
    bool given;
    uint32_t value;
};

// Sizes, codes and the bit rate are stored as they are, 0 meaning not given.
inline RequestedValue requestedValue(uint32_t stored) { return {stored != 0, stored}; }
// Flags are stored as the flag plus 1.
inline RequestedValue requestedFlag(uint8_t stored) { return {stored != 0, stored - 1u}; }

// Writes the field's line. When a value is requested and differs from the current one,
// the line ends in the patched-to text, the field's counter grows, the requested value's
// bits replace the field's bits in `bytes` (header or extension byte 0) and the answer
// is true; otherwise the line ends in " -> not patched" and nothing else happens.
bool reportAndPatchField(ReportSink& sink, RunCounters& counters, uint8_t* bytes, const PatchableField& field,
                         uint32_t current, RequestedValue requested);

// The line "<found text><offset> (<OFFSET in hex>h)".
void writeFoundLine(ReportSink& sink, std::string_view foundText, uint64_t fileOffset);

}  // namespace tessarwick
