// The MPEG-2 sequence extension (00 00 01 B5, identifier 1) that follows a sequence header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/bit_field.h"
#include "scan/scan_window.h"

namespace tessarwick {

// Layout from the extension's own byte 0 (the first 00 of its start code).
namespace sequence_extension {
inline constexpr BitField extensionStartCodeIdentifier{32, 4};
inline constexpr BitField profile{36, 4};  // escape bit and 3-bit profile
inline constexpr BitField level{40, 4};
inline constexpr BitField progressiveSequence{44, 1};
inline constexpr BitField chromaFormat{45, 2};
inline constexpr BitField horizontalSizeExtension{47, 2};
inline constexpr BitField verticalSizeExtension{49, 2};
inline constexpr BitField bitRateExtension{51, 12};
inline constexpr BitField markerBit{63, 1};
inline constexpr BitField vbvBufferSizeExtension{64, 8};
inline constexpr BitField lowDelay{72, 1};
inline constexpr BitField frameRateExtensionN{73, 2};
inline constexpr BitField frameRateExtensionD{75, 5};
}  // namespace sequence_extension

struct SequenceExtensionFields {
    uint8_t profile = 0;
    uint8_t level = 0;
    uint8_t progressiveSequence = 0;
    uint8_t chromaFormat = 0;
};

// Looks at the start code `nextStartDistance` bytes after the header; when it is a
// sequence extension, counts it, reports its four fields, patches the requested ones and
// clears the extension bits of the header fields patched just before.
void processSequenceExtension(ScanWindow& window, std::size_t headerOffset, uint16_t nextStartDistance,
                              ScanRun& run, HeaderPatchState& state);

}  // namespace tessarwick
