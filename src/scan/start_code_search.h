// Finding the sequence_header_code 00 00 01 B3 in a window.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessarwick {

// The first position q in [from, end) at which bytes q to q + 3 read 00 00 01 B3, or `end`
// when there is none. Reads bytes up to end + 18, which must lie inside the buffer.
// Its speed does not depend on the data: a file of zeros or of B3 bytes costs the same
// as any other.
std::size_t findSequenceHeaderCode(const uint8_t* bytes, std::size_t from, std::size_t end);

}  // namespace tessarwick
