// Command-line options: slash options such as /hs=720 or /all, read into the PatchRequest.
// Nothing here writes anything; a malformed or unknown argument simply counts as not given.
#include <cstddef>
#include <cstdint>

#include "run/patch_request.h"

namespace tessarwick {

namespace {

// Which part of the request an option fills.
enum class OptionTarget {
    fileName,
    horizontalSize,
    verticalSize,
    aspectRatio,
    frameRate,
    bitRate,
    vbvBufferSize,
    constrainedParameters,
    profile,
    level,
    progressiveSequence,
    chromaFormat,
    patchAll,
    writeLog,
};

struct OptionSpec {
    std::string_view prefix;  // lower case; compared with the argument's case-folded start
    OptionTarget target;
};

// No two prefixes agree in their leading characters, so an argument matches at most one.
// "/all" and "/log" are prefixes too: "/logfile" sets writeLog.
constexpr OptionSpec optionTable[] = {
    {"/f=", OptionTarget::fileName},
    {"/hs=", OptionTarget::horizontalSize},
    {"/vs=", OptionTarget::verticalSize},
    {"/ar=", OptionTarget::aspectRatio},
    {"/fr=", OptionTarget::frameRate},
    {"/br=", OptionTarget::bitRate},
    {"/vbv=", OptionTarget::vbvBufferSize},
    {"/cp=", OptionTarget::constrainedParameters},
    {"/pr=", OptionTarget::profile},
    {"/lv=", OptionTarget::level},
    {"/ps=", OptionTarget::progressiveSequence},
    {"/cs=", OptionTarget::chromaFormat},
    {"/all", OptionTarget::patchAll},
    {"/log", OptionTarget::writeLog},
};

// Only the ASCII letters A to Z are folded; every other byte stays as it is, whatever
// the locale.
char foldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithFolded(std::string_view argument, std::string_view prefix) {
    if (argument.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (foldCase(argument[i]) != prefix[i]) return false;
    }
    return true;
}

// The value of a digit character in `base`, or -1 when it is not a digit of that base.
int digitValue(char c, uint32_t base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    }
    return (value >= 0 && static_cast<uint32_t>(value) < base) ? value : -1;
}

// Flags are stored as the flag plus 1 so that 0 can mean "not given"; the sum wraps in
// 8 bits, so /cp=255 stores 0 and counts as not given.
uint8_t flagPlusOne(uint32_t number) { return static_cast<uint8_t>(static_cast<uint8_t>(number) + 1); }

void storeOption(PatchRequest& request, OptionTarget target, std::string_view valueText) {
    // Each numeric value keeps only the low bits that its field holds, without a message:
    // /hs=66256 stores 720.
    switch (target) {
        case OptionTarget::fileName:
            request.fileName.assign(valueText);
            break;
        case OptionTarget::horizontalSize:
            request.horizontalSize = static_cast<uint16_t>(parseUnsigned(valueText));
            break;
        case OptionTarget::verticalSize:
            request.verticalSize = static_cast<uint16_t>(parseUnsigned(valueText));
            break;
        case OptionTarget::aspectRatio:
            request.aspectRatio = static_cast<uint8_t>(parseUnsigned(valueText));
            break;
        case OptionTarget::frameRate:
            request.frameRate = static_cast<uint8_t>(parseUnsigned(valueText));
            break;
        case OptionTarget::bitRate:
            request.bitRate = parseUnsigned(valueText);
            break;
        case OptionTarget::vbvBufferSize:
            request.vbvBufferSize = static_cast<uint16_t>(parseUnsigned(valueText));
            break;
        case OptionTarget::constrainedParameters:
            request.constrainedParameters = flagPlusOne(parseUnsigned(valueText));
            break;
        case OptionTarget::profile:
            request.profile = static_cast<uint8_t>(parseUnsigned(valueText));
            break;
        case OptionTarget::level:
            request.level = static_cast<uint8_t>(parseUnsigned(valueText));
            break;
        case OptionTarget::progressiveSequence:
            request.progressiveSequence = flagPlusOne(parseUnsigned(valueText));
            break;
        case OptionTarget::chromaFormat:
            request.chromaFormat = static_cast<uint8_t>(parseUnsigned(valueText));
            break;
        case OptionTarget::patchAll:
            request.patchAll = true;
            break;
        case OptionTarget::writeLog:
            request.writeLog = true;
            break;
    }
}

}  // namespace

uint32_t parseUnsigned(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t')) ++position;

    // One sign; negative numbers are refused.
    if (position < text.size() && text[position] == '+') {
        ++position;
    } else if (position < text.size() && text[position] == '-') {
        return 0;
    }

    // One base prefix: $, x, X or 0x/0X for hexadecimal, % for binary, & for octal.
    // A leading zero alone does not select octal.
    uint32_t base = 10;
    if (position < text.size()) {
        char c = text[position];
        if (c == '$' || c == 'x' || c == 'X') {
            base = 16;
            ++position;
        } else if (c == '0' && position + 1 < text.size() &&
                   (text[position + 1] == 'x' || text[position + 1] == 'X')) {
            base = 16;
            position += 2;
        } else if (c == '%') {
            base = 2;
            ++position;
        } else if (c == '&') {
            base = 8;
            ++position;
        }
    }

    // Leading zeros, but never the text's last character: "000" still reads as 0.
    while (position + 1 < text.size() && text[position] == '0') ++position;
    if (position >= text.size()) return 0;

    // Accumulated in 64 bits and checked after every digit, so that no number wraps back
    // below the 32-bit limit.
    uint64_t value = 0;
    for (; position < text.size(); ++position) {
        int digit = digitValue(text[position], base);
        if (digit < 0) return 0;
        value = value * base + static_cast<uint64_t>(digit);
        if (value > UINT32_MAX) return 0;
    }
    return static_cast<uint32_t>(value);
}

void parseOption(PatchRequest& request, std::string_view argument) {
    if (argument.size() > maxTextLength) argument = argument.substr(0, maxTextLength);
    for (const OptionSpec& option : optionTable) {
        if (!startsWithFolded(argument, option.prefix)) continue;
        std::string_view valueText = argument.substr(option.prefix.size());
        // The bit rate is typed in bit/s but kept in units of 100 bit/s: the argument's
        // last two characters are dropped, whatever they are.
        if (option.target == OptionTarget::bitRate) {
            valueText = valueText.size() > 2 ? valueText.substr(0, valueText.size() - 2) : std::string_view();
        }
        storeOption(request, option.target, valueText);
    }
}

void parseOptions(PatchRequest& request, std::span<const std::string> arguments) {
    for (const std::string& argument : arguments) parseOption(request, argument);
}

}  // namespace tessarwick
