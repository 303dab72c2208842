// The test that tells a real sequence header from a chance 00 00 01 B3: decoding, outright
// rejections, penalty points, and the search for the start code that follows.
#include "scan/sequence_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/test_files.h"

namespace tessarwick {
namespace {

using testing::Bytes;
using testing::HeaderSpec;

constexpr std::size_t windowBytes = 8192;
constexpr std::size_t headerAt = 100;

// Fields in the units the test reports (bit rate in 100 bit/s); the rest of HeaderSpec's
// defaults (720 x 576, codes 2 and 3, 9.8 Mbit/s, buffer 112) score nothing.
struct Fields {
    uint16_t horizontalSize = 720;
    uint16_t verticalSize = 576;
    uint8_t aspectRatio = 2;
    uint8_t frameRate = 3;
    uint32_t bitRate = 98000;
    uint16_t vbvBufferSize = 112;
    uint8_t constrainedParameters = 0;
};

HeaderSpec headerSpec(const Fields& f) {
    HeaderSpec description;
    description.horizontalSize = f.horizontalSize;
    description.verticalSize = f.verticalSize;
    description.aspectRatio = f.aspectRatio;
    description.frameRate = f.frameRate;
    description.bitRateValue = f.bitRate / 4;
    description.vbvBufferSize = f.vbvBufferSize;
    description.constrainedParameters = f.constrainedParameters;
    return description;
}

// A window with the header at `headerAt` and the next start code 12 bytes after it.
Bytes windowWith(const HeaderSpec& description) {
    Bytes window(windowBytes, 0xFF);
    testing::putSequenceHeader(window, headerAt, description);
    testing::putStartCode(window, headerAt + 12, 0xB5);
    return window;
}

constexpr int outright = -1;  // rejected before any points are counted

struct ScoreCase {
    const char* name;
    Fields fields;
    int score;  // or `outright`
    bool accepted;
};

// clang-format off
const ScoreCase scoreCases[] = {
    {"pal_dvd_scores_nothing", {720, 576, 2, 3, 98000, 112, 0}, 0, true},
    {"mpeg1_sif_reserved_aspect_low_rate", {352, 288, 12, 3, 11500, 20, 1}, 15, true},
    {"hd_1080_scores_nothing", {1920, 1080, 3, 4, 194000, 488, 0}, 0, true},
    {"small_sizes_reserved_aspect_reach_20", {304, 224, 5, 3, 20000, 40, 0}, 20, false},
    {"small_sizes_aspect_4_score_10", {304, 224, 4, 3, 20000, 40, 0}, 10, true},
    {"score_19_still_passes", {304, 224, 2, 3, 10000, 1, 0}, 19, true},
    {"reserved_frame_rate", {720, 576, 2, 9, 98000, 112, 0}, 10, true},
    {"area_exactly_640000_square_pixels", {800, 800, 1, 3, 98000, 112, 0}, 0, true},
    {"area_above_640000_square_pixels", {808, 800, 1, 3, 98000, 112, 0}, 3, true},
    {"area_exactly_920000_high_rates", {920, 1000, 2, 3, 250000, 300, 0}, 5, true},
    {"area_exactly_920000_low_rates", {920, 1000, 2, 3, 20000, 80, 0}, 5, true},
    {"area_below_920000_high_rates", {912, 1000, 2, 3, 250000, 300, 0}, 15, true},
    {"area_above_920000_low_rates", {928, 1000, 2, 3, 20000, 80, 0}, 15, true},
    {"bit_rate_all_ones", {720, 576, 2, 3, 1048572, 112, 0}, 10, true},
    {"bit_rate_zero_scores_not_rejects", {720, 576, 2, 3, 0, 112, 0}, 5, true},
    {"width_exactly_3_times_height", {720, 240, 2, 3, 98000, 112, 0}, 0, true},
    {"width_above_3_times_height", {728, 240, 2, 3, 98000, 112, 0}, 5, true},
    {"width_exactly_4_times_height", {960, 240, 2, 3, 98000, 112, 0}, 5, true},
    {"width_above_4_times_height", {968, 240, 2, 3, 98000, 112, 0}, 10, true},
    {"width_exactly_8_times_height", {1920, 240, 2, 3, 98000, 112, 0}, 10, true},
    {"width_above_8_times_height", {1928, 240, 2, 3, 98000, 112, 0}, 15, true},
    {"height_exactly_3_times_width", {320, 960, 3, 3, 98000, 112, 0}, 2, true},
    {"height_above_3_times_width", {320, 968, 3, 3, 98000, 112, 0}, 7, true},
    {"height_exactly_4_times_width", {320, 1280, 3, 3, 98000, 112, 0}, 7, true},
    {"height_above_4_times_width", {320, 1288, 3, 3, 98000, 112, 0}, 12, true},
    {"height_exactly_8_times_width", {320, 2560, 3, 3, 98000, 112, 0}, 12, true},
    {"height_above_8_times_width", {320, 2568, 3, 3, 98000, 112, 0}, 17, true},
    {"vbv_buffer_1", {720, 576, 2, 3, 98000, 1, 0}, 4, true},
    {"vbv_buffer_2", {720, 576, 2, 3, 98000, 2, 0}, 1, true},
    {"vbv_buffer_3", {720, 576, 2, 3, 98000, 3, 0}, 4, true},
    {"vbv_buffer_4", {720, 576, 2, 3, 98000, 4, 0}, 0, true},
    {"vbv_buffer_0", {720, 576, 2, 3, 98000, 0, 0}, outright, false},
    {"constrained_flag_with_mpeg2_stream", {768, 576, 2, 6, 120000, 124, 1}, 24, false},
    {"constrained_flag_tall_picture", {720, 584, 2, 3, 30000, 120, 1}, 5, true},
    {"smallest_sizes_16", {16, 16, 2, 3, 98000, 112, 0}, 10, true},
    {"width_350_not_multiple_of_8", {350, 288, 2, 3, 98000, 112, 0}, outright, false},
    {"width_8", {8, 288, 2, 3, 98000, 112, 0}, outright, false},
    {"height_8", {352, 8, 2, 3, 98000, 112, 0}, outright, false},
    {"height_not_multiple_of_8", {352, 284, 2, 3, 98000, 112, 0}, outright, false},
    {"aspect_code_0", {720, 576, 0, 3, 98000, 112, 0}, outright, false},
    {"frame_rate_code_0", {720, 576, 2, 0, 98000, 112, 0}, outright, false},
};
// clang-format on

TEST(SequenceHeaderTest, ScoresAndVerdicts) {
    for (const ScoreCase& c : scoreCases) {
        SCOPED_TRACE(c.name);
        const Bytes window = windowWith(headerSpec(c.fields));
        const SequenceHeaderFields decoded = decodeSequenceHeader(window.data() + headerAt);
        EXPECT_EQ(decoded.horizontalSize, c.fields.horizontalSize);
        EXPECT_EQ(decoded.verticalSize, c.fields.verticalSize);
        EXPECT_EQ(decoded.aspectRatio, c.fields.aspectRatio);
        EXPECT_EQ(decoded.frameRate, c.fields.frameRate);
        EXPECT_EQ(decoded.bitRate, c.fields.bitRate);
        EXPECT_EQ(decoded.vbvBufferSize, c.fields.vbvBufferSize);
        EXPECT_EQ(decoded.constrainedParameters, c.fields.constrainedParameters);

        EXPECT_EQ(rejectedOutright(decoded), c.score == outright);
        if (c.score != outright) {
            EXPECT_EQ(plausibilityScore(decoded), c.score);
        }

        SequenceHeaderFields fields;
        uint16_t distance = 0;
        EXPECT_EQ(testSequenceHeader(window.data(), headerAt, fields, distance), c.accepted);
    }
}

TEST(SequenceHeaderTest, AcceptanceHandsOverFieldsAndLeavesWindowAlone) {
    const Bytes window = windowWith(headerSpec({1920, 1080, 3, 4, 194000, 488, 0}));
    const Bytes before = window;
    SequenceHeaderFields fields;
    uint16_t distance = 0;
    ASSERT_TRUE(testSequenceHeader(window.data(), headerAt, fields, distance));
    EXPECT_EQ(fields.horizontalSize, 1920);
    EXPECT_EQ(fields.verticalSize, 1080);
    EXPECT_EQ(fields.bitRate, 194000u);
    EXPECT_EQ(fields.vbvBufferSize, 488);
    EXPECT_EQ(distance, 12);
    EXPECT_EQ(window, before);
}

TEST(SequenceHeaderTest, StartCodeAndMarkerBitComeFirst) {
    struct Case {
        const char* name;
        std::size_t byte;
        uint8_t value;
    };
    const Case cases[] = {
        {"marker_bit_0", 10, 0x03},           // 0x23 without bit 5: a plausible header otherwise
        {"group_of_pictures_code", 3, 0xB8},  // 00 00 01 B8
        {"no_start_code_prefix", 2, 0x02},    // 00 00 02 B3
        {"three_zero_bytes", 2, 0x00},        // 00 00 00 B3
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes window = windowWith(HeaderSpec{});
        window[headerAt + c.byte] = c.value;
        SequenceHeaderFields fields;
        uint16_t distance = 0;
        EXPECT_FALSE(testSequenceHeader(window.data(), headerAt, fields, distance));
    }
}

TEST(SequenceHeaderTest, NextStartCodeDistance) {
    struct Case {
        const char* name;
        std::vector<uint8_t> following;  // written from header byte `at` on
        std::size_t at;
        bool accepted;
        uint16_t distance;
    };
    const Case cases[] = {
        {"extension_right_after", {0x00, 0x00, 0x01, 0xB5}, 12, true, 12},
        {"prefix_at_206", {0x00, 0x00, 0x01, 0xB8}, 206, true, 206},
        {"prefix_at_207", {0x00, 0x00, 0x01, 0xB8}, 207, false, 0},
        // Byte 11 becomes 00 (buffer size 96): a prefix at 11 overlaps the header and is none.
        {"prefix_at_11", {0x00, 0x00, 0x01, 0xB8}, 11, false, 0},
        // A program stream's pack header cutting the header after byte 10 (as ffmpeg's DVD
        // muxer does): the header is taken, with the start code after the pack header.
        {"pack_header_inside_the_header",
         {0x00, 0x00, 0x01, 0xBA, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x00, 0x00,
          0x01, 0xBD},
         11,
         true,
         25},
        {"zero_byte_then_prefix", {0x00, 0x00, 0x00, 0x01, 0xB5}, 12, true, 13},
        {"two_zeros_without_01", {0x00, 0x00, 0x02, 0xB5}, 12, false, 0},
        {"first_of_two_prefixes", {0x00, 0x00, 0x01, 0xB5, 0x00, 0x00, 0x01, 0xB8}, 140, true, 140},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes window(windowBytes, 0xFF);
        testing::putSequenceHeader(window, headerAt, HeaderSpec{});
        for (std::size_t i = 0; i < c.following.size(); ++i) window[headerAt + c.at + i] = c.following[i];
        SequenceHeaderFields fields;
        uint16_t distance = 0;
        EXPECT_EQ(testSequenceHeader(window.data(), headerAt, fields, distance), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(distance, c.distance);
        }
    }
}

}  // namespace
}  // namespace tessarwick
