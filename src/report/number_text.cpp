// How numbers become report text: plain decimal, upper-case hexadecimal and fixed-point.
// Every text is built in a NumberText's fixed buffer; nothing is allocated.
#include <cmath>
#include <cstdint>
#include <limits>

#include "report/report_sink.h"

namespace tessarwick {

// The fixed-point texts are defined on the exact binary value of the 80-bit x87 extended
// format (64-bit mantissa), the format in which the summary computes its figures. Another
// long double (64-bit double on MSVC, 128-bit quad on AArch64) would give other digits.
static_assert(std::numeric_limits<long double>::digits == 64 &&
                  std::numeric_limits<long double>::max_exponent == 16384,
              "Tessarwick needs long double to be the 80-bit x87 extended format (64-bit mantissa); "
              "build with a compiler and target that provide it, such as GCC or Clang on x86.");

namespace {

// Appends one character; anything past the 255th is cut, as for every text.
void append(NumberText& text, char character) {
    if (text.length < maxTextLength) text.characters[text.length++] = character;
}

}  // namespace

NumberText decimalText(uint64_t value) {
    char reversed[20];  // 2^64 - 1 has 20 digits
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    NumberText text;
    while (count > 0) append(text, reversed[--count]);
    return text;
}

NumberText signedDecimalText(int64_t value) {
    // The magnitude in unsigned arithmetic, so that the most negative value has one too.
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    NumberText digits = decimalText(magnitude);
    NumberText text;
    if (value < 0) append(text, '-');
    for (std::size_t i = 0; i < digits.length; ++i) append(text, digits.characters[i]);
    return text;
}

NumberText hexText(uint64_t value) {
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    char reversed[16];
    int count = 0;
    do {
        reversed[count++] = hexDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    NumberText text;
    while (count > 0) append(text, reversed[--count]);
    return text;
}

namespace {

// ---- Fixed-point ----------------------------------------------------------------------
//
// An extended value is m * 2^e with an integer m below 2^64. Its exact decimal expansion is
// the integer m * 2^e when e >= 0, and m * 5^-e divided by 10^-e when e < 0. That integer is
// built here in base 10^9, so its decimal digits can be read off limb by limb, without
// dividing the big number.

constexpr uint32_t limbBase = 1000000000;  // 10^9: nine decimal digits per limb
constexpr int digitsPerLimb = 9;

// The largest integer is below 2^16384, 4933 decimal digits; the largest fraction that is
// expanded (see smallestExpandedExponent) has far fewer. 560 limbs hold 5040 digits.
constexpr int maxLimbs = 560;

struct DecimalInteger {
    uint32_t limbs[maxLimbs];  // least significant first, each below 10^9
    int count = 0;
};

void multiplyBy(DecimalInteger& number, uint32_t factor) {
    uint64_t carry = 0;
    for (int i = 0; i < number.count; ++i) {
        uint64_t product = static_cast<uint64_t>(number.limbs[i]) * factor + carry;
        number.limbs[i] = static_cast<uint32_t>(product % limbBase);
        carry = product / limbBase;
    }
    while (carry != 0 && number.count < maxLimbs) {
        number.limbs[number.count++] = static_cast<uint32_t>(carry % limbBase);
        carry /= limbBase;
    }
}

int digitCount(const DecimalInteger& number) {
    if (number.count == 0) return 0;
    int top = 0;
    for (uint32_t limb = number.limbs[number.count - 1]; limb != 0; limb /= 10) ++top;
    return (number.count - 1) * digitsPerLimb + top;
}

// Digit `index` counted from the most significant one (index 0) of a `length`-digit number.
int digitAt(const DecimalInteger& number, int length, int index) {
    static constexpr uint32_t powersOfTen[digitsPerLimb] = {1,      10,      100,      1000,     10000,
                                                            100000, 1000000, 10000000, 100000000};
    int fromRight = length - 1 - index;
    return static_cast<int>(number.limbs[fromRight / digitsPerLimb] / powersOfTen[fromRight % digitsPerLimb] %
                            10);
}

// How many significant digits of the exact expansion are kept before the decimal places
// are cut: more than the 19 to 20 an extended value carries, so that only the last ones
// show the binary error that the rounding rule below looks for.
constexpr int significantDigits = 21;

// The value's significant digits after rounding to 21 of them, and where the decimal point
// falls: the digits are 0.d1d2d3... * 10^integerDigits, so integerDigits may be 0 or
// negative for a value below 1.
struct SignificantDigits {
    int digits[significantDigits];
    int count = 0;
    int integerDigits = 0;
};

SignificantDigits roundedDigits(uint64_t mantissa, int exponent) {
    // An odd mantissa keeps a fraction's expansion free of trailing zeros: m * 5^k then ends
    // in 5, so the digit string is the exact expansion and nothing more.
    while ((mantissa & 1) == 0) {
        mantissa >>= 1;
        ++exponent;
    }
    static DecimalInteger number;  // 2 KB; kept out of the stack
    number.count = 0;
    for (uint64_t rest = mantissa; rest != 0; rest /= limbBase)
        number.limbs[number.count++] = static_cast<uint32_t>(rest % limbBase);
    int fractionDigits = 0;
    if (exponent >= 0) {
        for (int left = exponent; left > 0; left -= 30)
            multiplyBy(number, uint32_t{1} << (left < 30 ? left : 30));
    } else {
        fractionDigits = -exponent;
        for (int left = fractionDigits; left > 0; --left) multiplyBy(number, 5);
    }

    int length = digitCount(number);
    SignificantDigits result;
    result.integerDigits = length - fractionDigits;
    result.count = length < significantDigits ? length : significantDigits;
    for (int i = 0; i < result.count; ++i) result.digits[i] = digitAt(number, length, i);
    if (length <= significantDigits) return result;

    // Round to nearest at the 21st digit; an exact half goes to the even digit.
    int next = digitAt(number, length, significantDigits);
    bool restNonZero = false;
    for (int i = significantDigits + 1; i < length && !restNonZero; ++i)
        restNonZero = digitAt(number, length, i) != 0;
    bool roundUp = next > 5 || (next == 5 && (restNonZero || result.digits[significantDigits - 1] % 2 == 1));
    if (!roundUp) return result;
    int i = significantDigits - 1;
    while (i >= 0 && result.digits[i] == 9) result.digits[i--] = 0;
    if (i >= 0) {
        ++result.digits[i];
    } else {
        // The carry ran into a new leading digit: 999... became 1000...
        result.digits[0] = 1;
        ++result.integerDigits;
    }
    return result;
}

// The digit of the rounded value at decimal position `power` (0 the units, -1 the tenths).
int digitAtPower(const SignificantDigits& value, int power) {
    int index = value.integerDigits - 1 - power;
    return index >= 0 && index < value.count ? value.digits[index] : 0;
}

// Whether the kept part goes up by one unit: the first dropped digit is 5 or more, or it is
// a 4 followed to the end of the string by one or more 9s, then an 8 or a 9, then one
// digit. That second case lets a value that misses a half only in its last digits, as the
// extended value nearest 1.005 (1.00499999999999999999566...) does, round like the half.
bool roundsUp(const SignificantDigits& value, int decimals) {
    // Index of the first dropped digit; outside the digit string it is a 0.
    int first = value.integerDigits + decimals;
    if (first < 0 || first >= value.count) return false;
    if (value.digits[first] >= 5) return true;
    if (value.digits[first] != 4) return false;
    int rest = value.count - first - 1;
    if (rest < 3) return false;
    for (int i = first + 1; i < value.count - 2; ++i)
        if (value.digits[i] != 9) return false;
    return value.digits[value.count - 2] >= 8;
}

// A value below 2^e with e <= -4 * (decimals + 1) lies below 16^-(decimals+1), so even its
// first dropped digit is 0: its text is all zeros and it needs no expansion.
int smallestExpandedExponent(int decimals) { return -4 * (decimals + 1) + 1; }

}  // namespace

NumberText fixedText(long double value, int decimals) {
    // A text holds 255 characters, so more decimals could never be shown.
    if (decimals < 0) decimals = 0;
    if (decimals > static_cast<int>(maxTextLength)) decimals = static_cast<int>(maxTextLength);

    NumberText text;
    if (std::signbit(value)) append(text, '-');
    // Not reachable from the summary unless the tick wraps to an elapsed time of 0.
    if (std::isnan(value) || std::isinf(value)) {
        for (const char* word = std::isnan(value) ? "nan" : "inf"; *word != 0; ++word) append(text, *word);
        return text;
    }

    int binaryExponent = 0;
    long double fraction = std::frexp(std::fabs(value), &binaryExponent);  // in [0.5, 1) or 0
    SignificantDigits digits;  // none for zero and for values too small to show
    if (fraction != 0 && binaryExponent >= smallestExpandedExponent(decimals)) {
        // All 64 mantissa bits as an integer: |value| = mantissa * 2^(binaryExponent - 64).
        auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 64));
        digits = roundedDigits(mantissa, binaryExponent - 64);
    }

    // Lay out the kept digits from the units (or higher) down to the last decimal. A
    // round-up adds one unit at the last decimal: the 9s below `raisedPower` become 0 and
    // the digit there goes up by one, which may be a new leading 1.
    int topPower = (digits.integerDigits > 1 ? digits.integerDigits : 1) - 1;
    int raisedPower = -decimals - 1;  // below every shown digit: nothing raised
    if (roundsUp(digits, decimals)) {
        raisedPower = -decimals;
        while (digitAtPower(digits, raisedPower) == 9) ++raisedPower;
    }
    for (int power = raisedPower > topPower ? raisedPower : topPower; power >= -decimals; --power) {
        int digit = power < raisedPower ? 0 : digitAtPower(digits, power) + (power == raisedPower ? 1 : 0);
        append(text, static_cast<char>('0' + digit));
        if (power == 0) append(text, '.');
    }
    return text;
}

}  // namespace tessarwick
