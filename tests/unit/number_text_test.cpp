// How numbers become report text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "report/report_sink.h"

namespace tessarwick {
namespace {

TEST(NumberText, DecimalHasNoPaddingAndNoLeadingZeros) {
    struct Case {
        const char* name;
        int64_t value;
        bool asSigned;
        std::string expected;
    } const cases[] = {
        {"zero", 0, false, "0"},
        {"one digit", 7, false, "7"},
        {"power of ten", 1000, false, "1000"},
        {"largest 32-bit", 4294967295, false, "4294967295"},
        {"signed zero", 0, true, "0"},
        {"negative", -5, true, "-5"},
        {"positive signed", 112, true, "112"},
        {"smallest 32-bit", std::numeric_limits<int32_t>::min(), true, "-2147483648"},
        {"smallest 64-bit", std::numeric_limits<int64_t>::min(), true, "-9223372036854775808"},
    };
    for (const Case& c : cases) {
        std::string text{c.asSigned ? signedDecimalText(c.value).view()
                                    : decimalText(static_cast<uint64_t>(c.value)).view()};
        EXPECT_EQ(text, c.expected) << c.name << ": " << c.value;
    }
    EXPECT_EQ(decimalText(UINT64_MAX).view(), "18446744073709551615");
}

TEST(NumberText, HexIsUpperCaseWithoutLeadingZeros) {
    struct Case {
        uint64_t value;
        std::string expected;
    } const cases[] = {
        {0, "0"},
        {4, "4"},
        {10, "A"},
        {4095, "FFF"},
        {4096, "1000"},
        {0xABCDEF, "ABCDEF"},
        {UINT64_MAX, "FFFFFFFFFFFFFFFF"},
    };
    for (const Case& c : cases) EXPECT_EQ(hexText(c.value).view(), c.expected) << "value " << c.value;
}

// The literals below are the extended values nearest to the decimals written; most lie just
// below them (1.005L is 1.0049999999999999999956...), which is what the rounding has to get
// right.
TEST(NumberText, FixedPointRoundsTheExactExtendedValue) {
    const long double oneUlpBelow1005 = std::nextafter(1.005L, 0.0L);
    const long double twoUlpsBelow1005 = std::nextafter(oneUlpBelow1005, 0.0L);
    struct Case {
        const char* name;
        long double value;
        int decimals;
        std::string expected;
    } const cases[] = {
        {"zero", 0.0L, 2, "0.00"},
        {"exact half goes away from zero", 0.125L, 2, "0.13"},
        {"1.005 just below the half", 1.005L, 2, "1.01"},
        {"2.675 just below the half", 2.675L, 2, "2.68"},
        {"12.346 just above", 12.346L, 2, "12.35"},
        {"carry into a new digit", 9.995L, 2, "10.00"},
        {"carry into the units", 0.995L, 2, "1.00"},
        {"0.004 keeps no digit", 0.004L, 2, "0.00"},
        {"1234.567 just below", 1234.567L, 2, "1234.57"},
        {"700 with one decimal", 700.0L, 1, "700.0"},
        {"0.25 half away from zero", 0.25L, 1, "0.3"},
        {"0.35 just below the half", 0.35L, 1, "0.4"},
        {"0.04 with one decimal", 0.04L, 1, "0.0"},
        // 1.005L is 1.00499999999999999999566..., rounded to 21 digits 1.00500000000000000000.
        // One step below, 1.00499999999999999989: a 4, 9s, then 8 and one digit still rounds
        // up; two steps below, 1.00499999999999999978, the 7 stops it.
        {"one step below 1.005", oneUlpBelow1005, 2, "1.01"},
        {"two steps below 1.005", twoUlpsBelow1005, 2, "1.00"},
        {"negative", -1.005L, 2, "-1.01"},
        {"negative zero keeps its sign", -0.0L, 2, "-0.00"},
        {"smallest subnormal", std::numeric_limits<long double>::denorm_min(), 2, "0.00"},
        {"largest 64-bit integer", 18446744073709551615.0L, 1, "18446744073709551615.0"},
        // 2^70 = 1180591620717411303424 has 22 digits; only 21 survive.
        {"only 21 significant digits", 0x1p70L, 1, "1180591620717411303420.0"},
        // 1 + 2^-21 = 1.000000476837158203125: the 22nd digit is an exact half, the 21st
        // stays even; with 3 * 2^-21 (...460937|5) it goes up to even.
        {"half at the 22nd digit, even", 1.0L + 0x1p-21L, 20, "1.00000047683715820312"},
        {"half at the 22nd digit, odd", 1.0L + 3 * 0x1p-21L, 20, "1.00000143051147460938"},
        // 1.000000000000007727325|7237...: more than a half, though the 21st digit is even.
        {"above the half at the 22nd digit", 1.0L + 71272 * 0x1p-63L, 20, "1.00000000000000772733"},
        {"infinity", std::numeric_limits<long double>::infinity(), 2, "inf"},
        {"negative infinity", -std::numeric_limits<long double>::infinity(), 2, "-inf"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fixedText(c.value, c.decimals).view(), c.expected)
            << c.name << ": " << std::hexfloat << c.value << " with " << c.decimals << " decimals";
    }
}

TEST(NumberText, FixedPointOfTheLargestValueIsCutTo255Characters) {
    // 1.18973149535723176502e4932: 4933 integer digits, 21 of them significant.
    std::string text{fixedText(std::numeric_limits<long double>::max(), 2).view()};
    EXPECT_EQ(text, "118973149535723176502" + std::string(255 - 21, '0'));
}

}  // namespace
}  // namespace tessarwick
