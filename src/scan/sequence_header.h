// The video sequence header (start code 00 00 01 B3): its layout, and the test that tells
// a real header from a chance byte pattern.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/bit_field.h"

namespace tessarwick {

// Layout after the 32-bit sequence_header_code.
namespace sequence_header {
inline constexpr BitField horizontalSizeValue{32, 12};
inline constexpr BitField verticalSizeValue{44, 12};
inline constexpr BitField aspectRatioInformation{56, 4};
inline constexpr BitField frameRateCode{60, 4};
inline constexpr BitField bitRateValue{64, 18};  // units of 400 bit/s
inline constexpr BitField markerBit{82, 1};
inline constexpr BitField vbvBufferSizeValue{83, 10};
inline constexpr BitField constrainedParametersFlag{93, 1};
}  // namespace sequence_header

// Decoded fields of one header, in the units of the PatchRequest.
struct SequenceHeaderFields {
    uint16_t horizontalSize = 0;
    uint16_t verticalSize = 0;
    uint8_t aspectRatio = 0;
    uint8_t frameRate = 0;
    uint32_t bitRate = 0;  // 4 * bit_rate_value: units of 100 bit/s
    uint16_t vbvBufferSize = 0;
    uint8_t constrainedParameters = 0;
};

SequenceHeaderFields decodeSequenceHeader(const uint8_t* header);

// Sizes that cannot belong to a real picture, and zero codes, reject whatever the score.
bool rejectedOutright(const SequenceHeaderFields& fields);

// Penalty points for unusual values and combinations; 20 or more rejects.
uint8_t plausibilityScore(const SequenceHeaderFields& fields);

// How many of the header's first 12 bytes are its own: 11 when a container's packet header
// begins at byte 11 and cuts the header in two, else 12. Bytes past the cut are the
// packet's, so they are never patched.
std::size_t ownHeaderBytes(const uint8_t* header);

// Tests the candidate whose start code begins at window[position] (position 0 to 4095,
// bytes position and position + 1 both 00). On acceptance fills `fields` and
// `nextStartDistance` (12 to 206, the distance to the next 00 00 01). Reads at most
// window bytes position + 2 to position + 208 and changes nothing.
bool testSequenceHeader(const uint8_t* window, std::size_t position, SequenceHeaderFields& fields,
                        uint16_t& nextStartDistance);

}  // namespace tessarwick
