// Every text of the program (an argument, a file name, a piece of a report line) holds at
// most 255 8-bit characters; a longer one is cut to its first 255.
#pragma once

#include <cstddef>

namespace tessarwick {

inline constexpr std::size_t maxTextLength = 255;

}  // namespace tessarwick
