// The search for 00 00 01 B3: the vector steps must find exactly what a byte-by-byte look
// finds, at every place relative to a step, to `from` and to `end`, and must not read past
// the bytes the search may read.
#include "scan/start_code_search.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessarwick {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t pattern[] = {0x00, 0x00, 0x01, 0xB3};
// The search may read up to this many bytes past `end`.
constexpr std::size_t readsPastEnd = 19;

// The first q in [from, end) with the pattern at q..q+3, one byte at a time.
std::size_t referenceSearch(const Bytes& bytes, std::size_t from, std::size_t end) {
    for (std::size_t q = from; q < end; ++q)
        if (bytes[q] == 0x00 && bytes[q + 1] == 0x00 && bytes[q + 2] == 0x01 && bytes[q + 3] == 0xB3)
            return q;
    return end;
}

// Exactly the bytes the search may read, so that AddressSanitizer reports any read beyond.
Bytes buffer(std::size_t end, uint8_t fill) { return Bytes(end + readsPastEnd, fill); }

void put(Bytes& bytes, std::size_t at, std::initializer_list<uint8_t> values) {
    for (uint8_t value : values) bytes[at++] = value;
}

struct PlacedCase {
    const char* name;
    std::size_t end;
    std::size_t from;
    std::size_t at;  // where the pattern is placed
    std::size_t expected;
};

TEST(StartCodeSearch, FindsThePatternWhereverItLies) {
    const PlacedCase cases[] = {
        {"at 0", 4096, 0, 0, 0},
        {"in the first step", 4096, 0, 13, 13},
        {"last position of a 16-byte step", 4096, 0, 15, 15},
        {"first position of the second 16-byte step", 4096, 0, 16, 16},
        {"last position of a 32-byte step", 4096, 0, 31, 31},
        {"first position of the second 32-byte step", 4096, 0, 32, 32},
        {"straddling two steps", 4096, 0, 62, 62},
        {"from an odd start", 4096, 5, 37, 37},
        {"at from itself", 4096, 37, 37, 37},
        {"before from", 4096, 38, 37, 4096},
        {"among the last 32 positions", 4096, 0, 4070, 4070},
        {"last position, pattern beyond end", 4096, 0, 4095, 4095},
        {"at end", 4096, 0, 4096, 4096},
        {"odd end, last position", 4099, 0, 4098, 4098},
        {"odd end, at end", 4099, 0, 4099, 4099},
        {"short range, last position", 20, 3, 19, 19},
        {"empty range", 100, 100, 100, 100},
    };
    for (const PlacedCase& c : cases) {
        Bytes bytes = buffer(c.end, 0x47);
        put(bytes, c.at, {pattern[0], pattern[1], pattern[2], pattern[3]});
        EXPECT_EQ(findSequenceHeaderCode(bytes.data(), c.from, c.end), c.expected)
            << c.name << ": pattern at " << c.at << ", search from " << c.from << " to " << c.end;
    }
}

struct PatternCase {
    const char* name;
    Bytes bytes;  // placed at offset 40 of a buffer of 0x47 bytes
    std::size_t expected;
};

TEST(StartCodeSearch, NeedsAllFourBytes) {
    const std::size_t end = 4096;
    const PatternCase cases[] = {
        {"00 00 00 01 B3: the zero two before the 01", {0x00, 0x00, 0x00, 0x01, 0xB3}, 41},
        {"another start code", {0x00, 0x00, 0x01, 0xB5}, end},
        {"one zero", {0x47, 0x00, 0x01, 0xB3}, end},
        {"02 instead of 01", {0x00, 0x00, 0x02, 0xB3}, end},
        {"01 at the first byte", {0x01, 0x00, 0x01, 0xB3}, end},
        {"B3 one byte late", {0x00, 0x00, 0x01, 0x47, 0xB3}, end},
    };
    for (const PatternCase& c : cases) {
        Bytes bytes = buffer(end, 0x47);
        for (std::size_t i = 0; i < c.bytes.size(); ++i) bytes[40 + i] = c.bytes[i];
        EXPECT_EQ(findSequenceHeaderCode(bytes.data(), 0, end), c.expected) << c.name;
    }
}

TEST(StartCodeSearch, DataMadeOfOneValueOrOfThePatternItself) {
    const std::size_t end = 4096;
    for (uint8_t fill : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0xB3}}) {
        Bytes bytes = buffer(end, fill);
        EXPECT_EQ(findSequenceHeaderCode(bytes.data(), 0, end), end) << "all bytes " << int{fill};
    }
    // 00 00 01 B3 every four bytes: each search finds the next one at or after `from`.
    Bytes bytes = buffer(end, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = pattern[i % 4];
    for (std::size_t from : {0u, 1u, 2u, 3u, 4u, 31u, 33u, 4090u, 4092u, 4093u})
        EXPECT_EQ(findSequenceHeaderCode(bytes.data(), from, end),
                  (from + 3) / 4 * 4 < end ? (from + 3) / 4 * 4 : end)
            << "repeated pattern, from " << from;
}

TEST(StartCodeSearch, AgreesWithAByteByByteSearch) {
    // Noise with many zeros and 01 bytes, so that partial patterns are common, and whole
    // patterns at pseudo-random places; searched from every kind of start to every kind of end.
    uint32_t state = 12345;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const uint8_t alphabet[] = {0x00, 0x00, 0x00, 0x01, 0xB3, 0x47};
    for (int round = 0; round < 200; ++round) {
        std::size_t end = 1 + next() % 300;
        Bytes bytes = buffer(end, 0);
        for (uint8_t& byte : bytes) byte = alphabet[next() % sizeof alphabet];
        for (int i = 0; i < 2; ++i) {
            std::size_t at = next() % (end + 1);
            put(bytes, at, {pattern[0], pattern[1], pattern[2], pattern[3]});
        }
        for (std::size_t from = 0; from <= end; ++from) {
            std::size_t expected = referenceSearch(bytes, from, end);
            ASSERT_EQ(findSequenceHeaderCode(bytes.data(), from, end), expected)
                << "round " << round << ", from " << from << " to " << end;
        }
    }
}

}  // namespace
}  // namespace tessarwick
