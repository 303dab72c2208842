// The echo of the requested values into the report, their limits, and the lowering of
// sizes and bit rate to what the header fields can hold.
#include "run/parameter_echo.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessarwick {

namespace {

// One echo line per given field, in this order whatever the order on the command line.
// A field is illegal when its stored value is above `limit`; the limits are the largest
// values the bits of the header fields can carry.
struct EchoRule {
    std::string_view prefix;
    uint32_t limit;
    std::string_view illegalText;
    std::string_view legalText;
    bool isFlag;  // stored as flag plus 1, echoed as the flag
};

constexpr std::size_t echoFieldCount = 11;

// The texts are kept exactly as users and their scripts know them: the /hs= text touches
// the number, and the /br= text, which begins with the two zeros that turn units of
// 100 bit/s back into bit/s, has no closing parenthesis.
constexpr EchoRule echoRules[echoFieldCount] = {
    // horizontal_size_value: 12 bits (the extension's size bits are not patched)
    {"* Parameter given: /hs=", 4095, "(illegal due to > 4095)", "", false},
    // vertical_size_value: 12 bits
    {"* Parameter given: /vs=", 4095, " (illegal due to > 4095)", "", false},
    // aspect_ratio_information: 4 bits
    {"* Parameter given: /ar=", 15, " (illegal due to > 15)", "", false},
    // frame_rate_code: 4 bits
    {"* Parameter given: /fr=", 15, " (illegal due to > 15)", "", false},
    // bit_rate_value: 18 bits in units of 400 bit/s, so at most 262143 x 4 units of 100 bit/s
    {"* Parameter given: /br=", 1048572, "00 (illegal due to > 104857200", "00", false},
    // vbv_buffer_size_value: 10 bits
    {"* Parameter given: /vbv=", 1023, " (illegal due to > 1023)", "", false},
    // constrained_parameters_flag: 1 bit, stored plus 1
    {"* Parameter given: /cp=", 2, " (illegal due to > 1)", "", true},
    // profile: upper 4 bits of profile_and_level_indication, escape bit plus 3 bits
    {"* Parameter given: /pr=", 8, " (illegal due to > 8)", "", false},
    // level: lower 4 bits of profile_and_level_indication
    {"* Parameter given: /lv=", 15, " (illegal due to > 15)", "", false},
    // progressive_sequence: 1 bit, stored plus 1
    {"* Parameter given: /ps=", 2, " (illegal due to > 1)", "", true},
    // chroma_format: 2 bits
    {"* Parameter given: /cs=", 3, " (illegal due to > 3)", "", false},
};

constexpr std::string_view patchAllEcho = "* Parameter given: /all";

// Sizes become multiples of 8 pixels, the bit rate a multiple of 4 units (400 bit/s),
// the unit of bit_rate_value.
constexpr uint16_t sizeMask = 0xFF8;
constexpr uint32_t bitRateMask = 0xFFFFC;

}  // namespace

bool echoAndValidate(const PatchRequest& request, ReportSink& report) {
    // In the order of echoRules.
    const uint32_t storedValues[echoFieldCount] = {
        request.horizontalSize, request.verticalSize,        request.aspectRatio,           request.frameRate,
        request.bitRate,        request.vbvBufferSize,       request.constrainedParameters, request.profile,
        request.level,          request.progressiveSequence, request.chromaFormat,
    };

    bool illegalParameter = false;
    // Every field is visited even after an illegal one, so that every given value is echoed.
    for (std::size_t i = 0; i < echoFieldCount; ++i) {
        const EchoRule& rule = echoRules[i];
        const uint32_t stored = storedValues[i];
        if (stored == 0) continue;  // not given
        writeText(report, rule.prefix);
        if (rule.isFlag) {
            writeSigned(report, static_cast<int32_t>(stored) - 1);
        } else {
            writeUnsigned(report, stored);
        }
        if (stored > rule.limit) {
            illegalParameter = true;
            writeText(report, rule.illegalText);
        } else {
            writeText(report, rule.legalText);
        }
        endLine(report);
    }
    // /log and the file name are not echoed; the file name has its own line.
    if (request.patchAll) {
        writeText(report, patchAllEcho);
        endLine(report);
    }
    return illegalParameter;
}

void normaliseRequest(PatchRequest& request) {
    request.horizontalSize = static_cast<uint16_t>(request.horizontalSize & sizeMask);
    request.verticalSize = static_cast<uint16_t>(request.verticalSize & sizeMask);
    request.bitRate &= bitRateMask;
}

}  // namespace tessarwick
