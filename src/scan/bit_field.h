// A syntax element's place in a header: its first bit counted from bit 7 of header byte 0
// (the first 00 of the start code), and its width. Reading, reporting and patching all go
// through the same descriptor, so they cannot disagree about where a field lies.
#pragma once

#include <cstdint>

namespace tessarwick {

struct BitField {
    uint16_t firstBit;  // bitstream position of the element's most significant bit
    uint8_t width;      // 1 to 32 bits
};

// The element's value, most significant bit first.
uint32_t readField(const uint8_t* header, BitField field);

// Replaces the element's bits by the low `width` bits of value; every other bit of the
// bytes it shares stays as it was.
void writeField(uint8_t* header, BitField field, uint32_t value);

}  // namespace tessarwick
