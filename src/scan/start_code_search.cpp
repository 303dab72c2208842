#include "scan/start_code_search.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define TESSARWICK_AVX2_SEARCH 1
#endif
#endif

namespace tessarwick {

// Only a 00 00 01 B3 can pass the header test's first stage, so searching for the whole
// pattern finds the same candidates as stopping at every pair of 00 bytes, without
// stopping at every position of a run of zeros.
#if defined(__SSE2__)

namespace {

// Sixteen positions per step; reads bytes up to end + 18.
std::size_t searchSixteenAtATime(const uint8_t* bytes, std::size_t from, std::size_t end) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(0x01);
    const __m128i sequenceHeader = _mm_set1_epi8(static_cast<char>(0xB3));
    for (std::size_t base = from; base < end; base += 16) {
        // Lane i compares position base + i with each of the four pattern bytes.
        __m128i byte0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + base));
        __m128i byte1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + base + 1));
        __m128i byte2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + base + 2));
        __m128i byte3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + base + 3));
        __m128i match =
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(byte0, zero), _mm_cmpeq_epi8(byte1, zero)),
                          _mm_and_si128(_mm_cmpeq_epi8(byte2, one), _mm_cmpeq_epi8(byte3, sequenceHeader)));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(match));
        if (mask != 0) {
            std::size_t position = base + static_cast<std::size_t>(__builtin_ctz(mask));
            return position < end ? position : end;
        }
    }
    return end;
}

#if defined(TESSARWICK_AVX2_SEARCH)

// Sixty-four positions per step on processors with AVX2. The step first looks only for the
// last two bytes of the pattern, 01 B3, which two loads show for every position and which
// real data holds about once in 64 KiB; only a step that has them is checked whole. Even
// data made of 01 B3 pairs costs less than twice as much. Only whole steps before `end` are
// taken here (reading bytes up to end + 2); the last positions go to the sixteen-position
// search.
__attribute__((target("avx2"))) inline __m256i load32(const uint8_t* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Lane i is all ones where bytes at + i + 2 and at + i + 3 read 01 B3.
__attribute__((target("avx2"))) inline __m256i patternTail(const uint8_t* at) {
    return _mm256_and_si256(_mm256_cmpeq_epi8(load32(at + 2), _mm256_set1_epi8(0x01)),
                            _mm256_cmpeq_epi8(load32(at + 3), _mm256_set1_epi8(static_cast<char>(0xB3))));
}

// Keeps the lanes of `tail` where bytes at + i and at + i + 1 are 00 as well, as a bit mask.
__attribute__((target("avx2"))) inline uint32_t wholePattern(const uint8_t* at, __m256i tail) {
    __m256i zeros = _mm256_cmpeq_epi8(_mm256_or_si256(load32(at), load32(at + 1)), _mm256_setzero_si256());
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(tail, zeros)));
}

__attribute__((target("avx2"))) std::size_t searchSixtyFourAtATime(const uint8_t* bytes, std::size_t from,
                                                                   std::size_t end) {
    std::size_t base = from;
    for (; base + 64 <= end; base += 64) {
        __m256i low = patternTail(bytes + base);
        __m256i high = patternTail(bytes + base + 32);
        __m256i either = _mm256_or_si256(low, high);
        if (_mm256_testz_si256(either, either)) continue;
        uint64_t mask = wholePattern(bytes + base, low) |
                        static_cast<uint64_t>(wholePattern(bytes + base + 32, high)) << 32;
        if (mask != 0) return base + static_cast<std::size_t>(__builtin_ctzll(mask));
    }
    return searchSixteenAtATime(bytes, base, end);
}

// Asked once, at start-up; the answer does not change during the run.
bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

const bool useAvx2 = processorHasAvx2();

#endif

}  // namespace

std::size_t findSequenceHeaderCode(const uint8_t* bytes, std::size_t from, std::size_t end) {
#if defined(TESSARWICK_AVX2_SEARCH)
    if (useAvx2) return searchSixtyFourAtATime(bytes, from, end);
#endif
    return searchSixteenAtATime(bytes, from, end);
}

#else

namespace {

uint64_t load64(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// High bit set in exactly the bytes of x that are 00.
uint64_t zeroBytes(uint64_t x) {
    constexpr uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((x & low7) + low7) | x | low7);
}

}  // namespace

// Word-at-a-time: eight positions per step, on a little-endian machine.
std::size_t findSequenceHeaderCode(const uint8_t* bytes, std::size_t from, std::size_t end) {
    constexpr uint64_t ones = 0x0101010101010101ull;
    for (std::size_t base = from; base < end; base += 8) {
        uint64_t differs = load64(bytes + base) | load64(bytes + base + 1) |
                           (load64(bytes + base + 2) ^ ones) | (load64(bytes + base + 3) ^ (ones * 0xB3));
        uint64_t match = zeroBytes(differs);
        if (match != 0) {
            std::size_t position = base + static_cast<std::size_t>(__builtin_ctzll(match) / 8);
            return position < end ? position : end;
        }
    }
    return end;
}

#endif

}  // namespace tessarwick
