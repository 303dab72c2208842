#include "scan/sequence_header.h"

namespace tessarwick {

namespace {

// Header bytes 2 and 3 complete the sequence_header_code 00 00 01 B3; the scanner has
// already seen the two 00 bytes.
constexpr uint8_t startCodePrefixEnd = 0x01;
constexpr uint8_t sequenceHeaderCode = 0xB3;

// A real picture is at least 16 pixels on each side, and MPEG codes whole 8-pixel blocks.
constexpr uint16_t smallestSize = 16;
constexpr uint16_t sizeGranule = 8;

// Candidates with this many penalty points are taken for chance byte patterns.
constexpr uint8_t rejectingScore = 20;

// A real header is followed closely by the next start code (usually the sequence
// extension): its prefix 00 00 01 begins no earlier than header byte 12, where the fixed
// part ends, and no later than byte 206, which leaves room for the two optional 64-byte
// quantiser matrices.
constexpr uint16_t nearestNextStart = 12;
constexpr uint16_t farthestNextStart = 206;

// Areas (pixels) that separate small pictures from standard and from high definition.
constexpr uint32_t largeArea = 640000;
constexpr uint32_t highDefinitionArea = 920000;

// True when one side is more than `limit` times the other. The quotients are taken in
// 80-bit extended precision, where every quotient of two sizes is close enough to its true
// value that the strict comparison matches the integer one: a ratio of exactly 3 is not
// above 3.
bool sideRatioAbove(uint16_t horizontalSize, uint16_t verticalSize, long double limit) {
    if (horizontalSize == 0 || verticalSize == 0) return false;  // rejected outright anyway
    long double horizontal = horizontalSize;
    long double vertical = verticalSize;
    return horizontal / vertical > limit || vertical / horizontal > limit;
}

}  // namespace

SequenceHeaderFields decodeSequenceHeader(const uint8_t* header) {
    namespace h = sequence_header;
    SequenceHeaderFields fields;
    fields.horizontalSize = static_cast<uint16_t>(readField(header, h::horizontalSizeValue));
    fields.verticalSize = static_cast<uint16_t>(readField(header, h::verticalSizeValue));
    fields.aspectRatio = static_cast<uint8_t>(readField(header, h::aspectRatioInformation));
    fields.frameRate = static_cast<uint8_t>(readField(header, h::frameRateCode));
    fields.bitRate = 4 * readField(header, h::bitRateValue);  // 400 bit/s -> 100 bit/s
    fields.vbvBufferSize = static_cast<uint16_t>(readField(header, h::vbvBufferSizeValue));
    fields.constrainedParameters = static_cast<uint8_t>(readField(header, h::constrainedParametersFlag));
    return fields;
}

bool rejectedOutright(const SequenceHeaderFields& fields) {
    return fields.horizontalSize < smallestSize || fields.verticalSize < smallestSize ||
           fields.horizontalSize % sizeGranule != 0 || fields.verticalSize % sizeGranule != 0 ||
           fields.aspectRatio == 0 || fields.frameRate == 0 || fields.vbvBufferSize == 0;
}

uint8_t plausibilityScore(const SequenceHeaderFields& f) {
    // Bit rates in 100 bit/s, buffer sizes in 16384 bits. Every rule that holds adds its
    // points; comparisons are strict, so a boundary value scores on neither side.
    const uint32_t area = uint32_t{f.horizontalSize} * f.verticalSize;
    const bool constrained = f.constrainedParameters == 1;
    unsigned score = 0;
    if (f.horizontalSize < 320) score += 5;
    if (f.verticalSize < 240) score += 5;
    if (f.aspectRatio > 4) score += 10;  // codes above 4 are reserved
    if (f.frameRate > 8) score += 10;    // codes above 8 are reserved
    if (area > largeArea && f.aspectRatio < 3) score += 3;
    if (f.bitRate > 600000) score += 5;
    if (f.bitRate < 14000) score += 5;
    if (area > highDefinitionArea && f.bitRate < 30000) score += 5;
    if (area < highDefinitionArea && f.bitRate > 200000) score += 5;
    if (f.vbvBufferSize % 2 != 0) score += 3;
    if (f.vbvBufferSize % 4 != 0) score += 1;
    if (area > highDefinitionArea && f.vbvBufferSize < 100) score += 5;
    if (area < highDefinitionArea && f.vbvBufferSize > 200) score += 5;
    // The constrained-parameters flag promises an MPEG-1 stream within small bounds.
    if (constrained && f.horizontalSize > 720) score += 5;
    if (constrained && f.verticalSize > 576) score += 5;
    if (constrained && f.frameRate > 5) score += 4;
    if (constrained && f.vbvBufferSize > 120) score += 5;
    if (constrained && f.bitRate > 30000) score += 4;
    if (constrained && f.bitRate > 100000) score += 6;
    if (f.horizontalSize < f.verticalSize) score += 2;
    if (sideRatioAbove(f.horizontalSize, f.verticalSize, 3.0L)) score += 5;
    if (sideRatioAbove(f.horizontalSize, f.verticalSize, 4.0L)) score += 5;
    if (sideRatioAbove(f.horizontalSize, f.verticalSize, 8.0L)) score += 5;
    return static_cast<uint8_t>(score);  // at most 113
}

std::size_t ownHeaderBytes(const uint8_t* header) {
    // No start code prefix can begin inside a real header: the sizes, the codes and the
    // marker bit rule out every place but byte 11. One that begins there is a container's
    // packet header (a DVD pack, say) cutting the header in two.
    bool cutAtByte11 = header[11] == 0x00 && header[12] == 0x00 && header[13] == startCodePrefixEnd;
    return cutAtByte11 ? 11 : 12;
}

bool testSequenceHeader(const uint8_t* window, std::size_t position, SequenceHeaderFields& fields,
                        uint16_t& nextStartDistance) {
    const uint8_t* header = window + position;
    // Cheapest first: this runs wherever two 00 bytes meet.
    if (header[2] != startCodePrefixEnd || header[3] != sequenceHeaderCode) return false;
    if (readField(header, sequence_header::markerBit) != 1) return false;

    const SequenceHeaderFields candidate = decodeSequenceHeader(header);
    if (rejectedOutright(candidate)) return false;
    if (plausibilityScore(candidate) >= rejectingScore) return false;

    // Any start code will do here; the caller looks at what it is.
    for (uint16_t distance = nearestNextStart; distance <= farthestNextStart; ++distance) {
        if (header[distance] == 0x00 && header[distance + 1] == 0x00 &&
            header[distance + 2] == startCodePrefixEnd) {
            fields = candidate;
            nextStartDistance = distance;
            return true;
        }
    }
    return false;
}

}  // namespace tessarwick
