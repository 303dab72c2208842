// The run's request: which file to open, which header fields to patch and how far to
// scan, as read from the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "report/text_limit.h"

namespace tessarwick {

// A value of 0 means "not given". The two flags are stored as the flag plus 1
// (0 not given, 1 false, 2 true). Each value is kept at the width of its field.
struct PatchRequest {
    std::string fileName;               // as typed, at most 252 characters
    uint16_t horizontalSize = 0;        // pixels
    uint16_t verticalSize = 0;          // pixels
    uint8_t aspectRatio = 0;            // aspect_ratio_information code
    uint8_t frameRate = 0;              // frame_rate_code
    uint32_t bitRate = 0;               // units of 100 bit/s
    uint16_t vbvBufferSize = 0;         // units of 16384 bits (2 kB)
    uint8_t constrainedParameters = 0;  // flag + 1
    uint8_t profile = 0;                // upper four bits of profile_and_level_indication
    uint8_t level = 0;                  // lower four bits of profile_and_level_indication
    uint8_t progressiveSequence = 0;    // flag + 1
    uint8_t chromaFormat = 0;           // chroma_format code
    bool patchAll = false;              // /all: every header, not only the first
    bool writeLog = false;              // /log: report file beside the video file
};

// Reads a value text as an unsigned 32-bit number in base 10, or in base 16 ("$", "x",
// "X", "0x"), 2 ("%") or 8 ("&"); anything malformed or too large gives 0.
uint32_t parseUnsigned(std::string_view text);

// Applies one command-line argument to the request; an argument that names no option
// is ignored.
void parseOption(PatchRequest& request, std::string_view argument);

// Applies every argument in command-line order; a later one overwrites an earlier one.
void parseOptions(PatchRequest& request, std::span<const std::string> arguments);

}  // namespace tessarwick
