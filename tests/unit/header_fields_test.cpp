// The report lines of an accepted sequence header and the bits its patches write.
#include "scan/header_fields.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/report_capture.h"
#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick {
namespace {

using testing::Bytes;
using testing::HeaderSpec;
using testing::hexBytes;
using testing::makeRequest;
using testing::reportLines;

constexpr std::size_t windowBytes = 8192;

struct HeaderOutcome {
    std::string report;
    Bytes window;
    RunCounters counters;
    HeaderPatchState state;
};

// Runs the header handler on a window holding `description` at `headerOffset`, with a report
// written to a real file.
HeaderOutcome handleHeader(const HeaderSpec& description, const PatchRequest& request,
                           std::size_t headerOffset = 0, int64_t firstBlock = 0, RunCounters counters = {},
                           HeaderPatchState state = {}) {
    HeaderOutcome outcome{"", Bytes(windowBytes, 0x5A), counters, state};
    testing::putSequenceHeader(outcome.window, headerOffset, description);
    testing::ReportCapture capture;
    EXPECT_TRUE(capture.opened());
    ScanWindow window{outcome.window.data(), firstBlock};
    ScanRun run{request, capture.sink, outcome.counters};
    processSequenceHeader(window, headerOffset, decodeSequenceHeader(outcome.window.data() + headerOffset),
                          run, outcome.state);
    outcome.report = capture.close();
    return outcome;
}

// A 720 x 576 header at 9.8 Mbit/s whose bit_rate_value has its two low bits set, and
// whose quantiser-matrix flags (bits 1-0 of byte 11) are set: bytes 4-11 read
// 2D 02 40 23 17 ED E3 83.
HeaderSpec palHeader() {
    HeaderSpec description;
    description.bitRateValue = 24503;
    description.lowBits = 3;
    return description;
}

struct FieldCase {
    const char* name;
    HeaderSpec header;
    PatchRequest request;
    std::array<const char*, 7> lines;
    const char* bytesAfter;  // header bytes 4 to 11
    uint16_t fieldsPatched;
};

HeaderSpec withCodes(uint8_t aspectRatio, uint8_t frameRate) {
    HeaderSpec description = palHeader();
    description.aspectRatio = aspectRatio;
    description.frameRate = frameRate;
    return description;
}

HeaderSpec withBitRateValue(uint32_t bitRateValue) {
    HeaderSpec description = palHeader();
    description.bitRateValue = bitRateValue;
    return description;
}

HeaderSpec withFlag() {
    HeaderSpec description = palHeader();
    description.constrainedParameters = 1;
    return description;
}

TEST(HeaderFieldsTest, FieldLinesAndPatchedBytes) {
    const FieldCase cases[] = {
        {"nothing_requested",
         palHeader(),
         {},
         {"  horizontal size       : 720 px -> not patched",
          "  vertical size         : 576 px -> not patched",
          "  aspect ratio          : 2 (4:3) -> not patched",
          "  frame rate            : 3 (25 fps) -> not patched",
          "  bit rate              : 9801200 bps -> not patched",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 0 (false) -> not patched"},
         "2D 02 40 23 17 ED E3 83",
         0},
        {"same_values_requested",
         palHeader(),
         makeRequest([](PatchRequest& r) {
             r.horizontalSize = 720;
             r.aspectRatio = 2;
             r.bitRate = 98012;
             r.constrainedParameters = 1;  // false
         }),
         {"  horizontal size       : 720 px -> not patched",
          "  vertical size         : 576 px -> not patched",
          "  aspect ratio          : 2 (4:3) -> not patched",
          "  frame rate            : 3 (25 fps) -> not patched",
          "  bit rate              : 9801200 bps -> not patched",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 0 (false) -> not patched"},
         "2D 02 40 23 17 ED E3 83",
         0},
        {"horizontal_size_704",
         palHeader(),
         makeRequest([](PatchRequest& r) { r.horizontalSize = 704; }),
         {"  horizontal size       : 720 px -> patched to 704 px",
          "  vertical size         : 576 px -> not patched",
          "  aspect ratio          : 2 (4:3) -> not patched",
          "  frame rate            : 3 (25 fps) -> not patched",
          "  bit rate              : 9801200 bps -> not patched",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 0 (false) -> not patched"},
         "2C 02 40 23 17 ED E3 83",
         1},
        {"sizes_1920x1088",
         palHeader(),
         makeRequest([](PatchRequest& r) {
             r.horizontalSize = 1920;
             r.verticalSize = 1088;
         }),
         {"  horizontal size       : 720 px -> patched to 1920 px",
          "  vertical size         : 576 px -> patched to 1088 px",
          "  aspect ratio          : 2 (4:3) -> not patched",
          "  frame rate            : 3 (25 fps) -> not patched",
          "  bit rate              : 9801200 bps -> not patched",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 0 (false) -> not patched"},
         "78 04 40 23 17 ED E3 83",
         2},
        {"bit_rate_9000000",
         palHeader(),
         makeRequest([](PatchRequest& r) { r.bitRate = 90000; }),
         {"  horizontal size       : 720 px -> not patched",
          "  vertical size         : 576 px -> not patched",
          "  aspect ratio          : 2 (4:3) -> not patched",
          "  frame rate            : 3 (25 fps) -> not patched",
          "  bit rate              : 9801200 bps -> patched to 9000000 bps",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 0 (false) -> not patched"},
         "2D 02 40 23 15 F9 23 83",  // bits 7-6 of byte 10 cleared, marker and buffer bits kept
         1},
        {"all_seven_share_bytes",
         palHeader(),
         makeRequest([](PatchRequest& r) {
             r.horizontalSize = 1920;
             r.verticalSize = 1088;
             r.aspectRatio = 3;
             r.frameRate = 4;
             r.bitRate = 90000;
             r.vbvBufferSize = 1023;
             r.constrainedParameters = 2;  // true
         }),
         {"  horizontal size       : 720 px -> patched to 1920 px",
          "  vertical size         : 576 px -> patched to 1088 px",
          "  aspect ratio          : 2 (4:3) -> patched to 3 (16:9)",
          "  frame rate            : 3 (25 fps) -> patched to 4 (29.97 fps)",
          "  bit rate              : 9801200 bps -> patched to 9000000 bps",
          "  vbv buffer size       : 112 (224 kB) -> patched to 1023 (2046 kB)",
          "  constrained parameters: 0 (false) -> patched to 1 (true)"},
         "78 04 40 34 15 F9 3F FF",
         7},
        {"unknown_codes_in_file",
         withCodes(9, 15),
         {},
         {"  horizontal size       : 720 px -> not patched",
          "  vertical size         : 576 px -> not patched",
          "  aspect ratio          : 9 (unknown a/r) -> not patched",
          "  frame rate            : 15 (unknown fps) -> not patched",
          "  bit rate              : 9801200 bps -> not patched",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 0 (false) -> not patched"},
         "2D 02 40 9F 17 ED E3 83",
         0},
        {"unknown_codes_requested",
         palHeader(),
         makeRequest([](PatchRequest& r) {
             r.aspectRatio = 9;
             r.frameRate = 12;
         }),
         {"  horizontal size       : 720 px -> not patched",
          "  vertical size         : 576 px -> not patched",
          "  aspect ratio          : 2 (4:3) -> patched to 9 (unknown a/r)",
          "  frame rate            : 3 (25 fps) -> patched to 12 (unknown fps)",
          "  bit rate              : 9801200 bps -> not patched",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 0 (false) -> not patched"},
         "2D 02 40 9C 17 ED E3 83",
         2},
        {"named_codes_at_the_ends_of_the_tables",
         withCodes(4, 8),
         makeRequest([](PatchRequest& r) {
             r.aspectRatio = 1;
             r.frameRate = 1;
         }),
         {"  horizontal size       : 720 px -> not patched",
          "  vertical size         : 576 px -> not patched",
          "  aspect ratio          : 4 (2.21:1) -> patched to 1 (1:1)",
          "  frame rate            : 8 (60 fps) -> patched to 1 (23.976 fps)",
          "  bit rate              : 9801200 bps -> not patched",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 0 (false) -> not patched"},
         "2D 02 40 11 17 ED E3 83",
         2},
        {"bit_rate_value_all_ones",
         withBitRateValue(0x3FFFF),
         {},
         {"  horizontal size       : 720 px -> not patched",
          "  vertical size         : 576 px -> not patched",
          "  aspect ratio          : 2 (4:3) -> not patched",
          "  frame rate            : 3 (25 fps) -> not patched",
          "  bit rate              : 104857200 bps -> not patched",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 0 (false) -> not patched"},
         "2D 02 40 23 FF FF E3 83",
         0},
        {"constrained_flag_cleared",
         withFlag(),
         makeRequest([](PatchRequest& r) { r.constrainedParameters = 1; }),  // false
         {"  horizontal size       : 720 px -> not patched",
          "  vertical size         : 576 px -> not patched",
          "  aspect ratio          : 2 (4:3) -> not patched",
          "  frame rate            : 3 (25 fps) -> not patched",
          "  bit rate              : 9801200 bps -> not patched",
          "  vbv buffer size       : 112 (224 kB) -> not patched",
          "  constrained parameters: 1 (true) -> patched to 0 (false)"},
         "2D 02 40 23 17 ED E3 83",  // from ... 87: bit 2 of byte 11 only
         1},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.name);
        const HeaderOutcome outcome = handleHeader(c.header, c.request);
        EXPECT_EQ(outcome.report, reportLines({"+ Sequenceheader found at 4 (4h)", c.lines[0], c.lines[1],
                                               c.lines[2], c.lines[3], c.lines[4], c.lines[5], c.lines[6]}));
        EXPECT_EQ(hexBytes(outcome.window, 4, 8), c.bytesAfter);
        const RunCounters& n = outcome.counters;
        const uint16_t fieldsPatched = n.horizontalSizePatched + n.verticalSizePatched +
                                       n.aspectRatioPatched + n.frameRatePatched + n.bitRatePatched +
                                       n.vbvBufferSizePatched + n.constrainedParametersPatched;
        EXPECT_EQ(fieldsPatched, c.fieldsPatched);
        EXPECT_EQ(n.headersFound, 1);
        EXPECT_EQ(n.headersPatched, c.fieldsPatched != 0 ? 1 : 0);
        EXPECT_EQ(outcome.state.headerChanged, c.fieldsPatched != 0);
        EXPECT_FALSE(outcome.state.extensionChanged);
        // Start code untouched, and not a byte beyond header byte 11.
        EXPECT_EQ(hexBytes(outcome.window, 0, 4), "00 00 01 B3");
        EXPECT_EQ(outcome.window[12], 0x5A);
    }
}

TEST(HeaderFieldsTest, EachPatchCountsInItsOwnCounterAndMarksExtensionFields) {
    struct Case {
        const char* name;
        void (*fill)(PatchRequest&);
        uint16_t RunCounters::*counter;
        bool HeaderPatchState::*extensionFlag;  // nullptr: no bits in the extension
    };
    const Case cases[] = {
        {"horizontal_size", [](PatchRequest& r) { r.horizontalSize = 704; },
         &RunCounters::horizontalSizePatched, &HeaderPatchState::horizontalSizePatched},
        {"vertical_size", [](PatchRequest& r) { r.verticalSize = 480; }, &RunCounters::verticalSizePatched,
         &HeaderPatchState::verticalSizePatched},
        {"aspect_ratio", [](PatchRequest& r) { r.aspectRatio = 3; }, &RunCounters::aspectRatioPatched,
         nullptr},
        {"frame_rate", [](PatchRequest& r) { r.frameRate = 4; }, &RunCounters::frameRatePatched,
         &HeaderPatchState::frameRatePatched},
        {"bit_rate", [](PatchRequest& r) { r.bitRate = 90000; }, &RunCounters::bitRatePatched,
         &HeaderPatchState::bitRatePatched},
        {"vbv_buffer_size", [](PatchRequest& r) { r.vbvBufferSize = 224; },
         &RunCounters::vbvBufferSizePatched, &HeaderPatchState::vbvBufferSizePatched},
        {"constrained_parameters", [](PatchRequest& r) { r.constrainedParameters = 2; },
         &RunCounters::constrainedParametersPatched, nullptr},
    };
    bool HeaderPatchState::*const extensionFlags[] = {
        &HeaderPatchState::horizontalSizePatched, &HeaderPatchState::verticalSizePatched,
        &HeaderPatchState::frameRatePatched, &HeaderPatchState::bitRatePatched,
        &HeaderPatchState::vbvBufferSizePatched};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HeaderOutcome outcome = handleHeader(palHeader(), makeRequest(c.fill));
        EXPECT_EQ(outcome.counters.*c.counter, 1);
        for (bool HeaderPatchState::*flag : extensionFlags)
            EXPECT_EQ(outcome.state.*flag, flag == c.extensionFlag);
        EXPECT_TRUE(outcome.state.headerChanged);
    }
}

TEST(HeaderFieldsTest, FoundLineGivesFileOffsetOfByte4) {
    struct Case {
        const char* name;
        int64_t firstBlock;
        std::size_t headerOffset;
        const char* line;
    };
    const Case cases[] = {
        {"start_of_file", 0, 0, "+ Sequenceheader found at 4 (4h)"},
        {"end_of_first_half", 2, 4095, "+ Sequenceheader found at 12291 (3003h)"},
        {"past_4_GiB", 1048576, 0, "+ Sequenceheader found at 4294967300 (100000004h)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HeaderOutcome outcome = handleHeader(palHeader(), {}, c.headerOffset, c.firstBlock);
        EXPECT_EQ(outcome.report.substr(0, outcome.report.find("\r\n")), c.line);
    }
}

TEST(HeaderFieldsTest, HeaderStraddlingTheHalvesIsPatchedAcrossThem) {
    PatchRequest r;
    r.horizontalSize = 1920;
    r.verticalSize = 1088;
    const HeaderOutcome outcome = handleHeader(palHeader(), r, 4093);
    EXPECT_EQ(hexBytes(outcome.window, 4093, 12), "00 00 01 B3 78 04 40 23 17 ED E3 83");
}

// A DVD pack header may begin at header byte 11 and cut the header in two. The fields in
// bytes 4 to 10 are the header's and are patched; the buffer size and the constrained flag
// reach into byte 11, the first 00 of the pack's start code, and are left alone.
TEST(HeaderFieldsTest, AHeaderCutByAPackHeaderKeepsThePackIntact) {
    Bytes bytes(windowBytes, 0x5A);
    testing::putSequenceHeader(bytes, 0, palHeader());
    testing::putStartCode(bytes, 11, 0xBA);
    PatchRequest r;
    r.aspectRatio = 3;
    r.vbvBufferSize = 100;
    r.constrainedParameters = 2;
    testing::ReportCapture capture;
    RunCounters counters;
    HeaderPatchState state;
    ScanWindow window{bytes.data(), 0};
    ScanRun run{r, capture.sink, counters};
    processSequenceHeader(window, 0, decodeSequenceHeader(bytes.data()), run, state);
    std::vector<std::string> lines = reportLines(capture.close());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[3], "  aspect ratio          : 2 (4:3) -> patched to 3 (16:9)");
    // The bytes are read as they stand: the buffer size's low bits come from the pack.
    EXPECT_EQ(lines[6], "  vbv buffer size       : 96 (192 kB) -> not patched");
    EXPECT_EQ(lines[7], "  constrained parameters: 0 (false) -> not patched");
    EXPECT_EQ(hexBytes(bytes, 0, 15), "00 00 01 B3 2D 02 40 33 17 ED E3 00 00 01 BA");
    EXPECT_EQ(counters.vbvBufferSizePatched + counters.constrainedParametersPatched, 0);
    EXPECT_FALSE(state.vbvBufferSizePatched);
}

TEST(HeaderFieldsTest, CountersWrapFrom65535To0) {
    RunCounters full;
    full.headersFound = 65535;
    full.headersPatched = 65535;
    full.aspectRatioPatched = 65535;
    PatchRequest r;
    r.aspectRatio = 3;
    const HeaderOutcome outcome = handleHeader(palHeader(), r, 0, 0, full);
    EXPECT_EQ(outcome.counters.headersFound, 0);
    EXPECT_EQ(outcome.counters.headersPatched, 0);
    EXPECT_EQ(outcome.counters.aspectRatioPatched, 0);
}

TEST(HeaderFieldsTest, AcceptanceClearsThePreviousHeadersFlags) {
    HeaderPatchState previous;
    previous.headerChanged = true;
    previous.extensionChanged = true;
    previous.horizontalSizePatched = true;
    previous.verticalSizePatched = true;
    previous.frameRatePatched = true;
    previous.bitRatePatched = true;
    previous.vbvBufferSizePatched = true;
    const HeaderOutcome outcome = handleHeader(palHeader(), {}, 0, 0, {}, previous);
    const HeaderPatchState& s = outcome.state;
    EXPECT_FALSE(s.headerChanged || s.extensionChanged || s.horizontalSizePatched || s.verticalSizePatched ||
                 s.frameRatePatched || s.bitRatePatched || s.vbvBufferSizePatched);
}

}  // namespace
}  // namespace tessarwick
