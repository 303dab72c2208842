// What a scan found and patched, for the run summary. Each counter is 16 bits and wraps
// from 65535 to 0.
#pragma once

#include <cstdint>

namespace tessarwick {

struct RunCounters {
    uint16_t headersFound = 0;
    uint16_t headersPatched = 0;
    uint16_t extensionsFound = 0;
    uint16_t extensionsPatched = 0;
    uint16_t horizontalSizePatched = 0;
    uint16_t verticalSizePatched = 0;
    uint16_t aspectRatioPatched = 0;
    uint16_t frameRatePatched = 0;
    uint16_t bitRatePatched = 0;
    uint16_t vbvBufferSizePatched = 0;
    uint16_t constrainedParametersPatched = 0;
    uint16_t profilePatched = 0;
    uint16_t levelPatched = 0;
    uint16_t progressiveSequencePatched = 0;
    uint16_t chromaFormatPatched = 0;
};

}  // namespace tessarwick
