#include "scan/bit_field.h"

namespace tessarwick {

uint32_t readField(const uint8_t* header, BitField field) {
    uint32_t value = 0;
    for (unsigned bit = field.firstBit; bit < field.firstBit + field.width; ++bit) {
        unsigned byteBit = 7 - bit % 8;  // bit 7 comes first in the bitstream
        value = (value << 1) | ((header[bit / 8] >> byteBit) & 1u);
    }
    return value;
}

void writeField(uint8_t* header, BitField field, uint32_t value) {
    for (unsigned i = 0; i < field.width; ++i) {
        unsigned bit = field.firstBit + i;
        unsigned byteBit = 7 - bit % 8;
        unsigned valueBit = (value >> (field.width - 1 - i)) & 1u;
        uint8_t mask = static_cast<uint8_t>(1u << byteBit);
        header[bit / 8] = static_cast<uint8_t>((header[bit / 8] & ~mask) | (valueBit << byteBit));
    }
}

}  // namespace tessarwick
