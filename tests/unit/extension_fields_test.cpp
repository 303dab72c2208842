// The MPEG-2 sequence extension after an accepted header: when it is taken, its report
// lines, its patches, and the clearing of the extension bits of patched header fields.
#include "scan/extension_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scan/header_fields.h"
#include "support/report_capture.h"
#include "support/test_files.h"

namespace tessarwick {
namespace {

using testing::Bytes;
using testing::ExtensionSpec;
using testing::HeaderSpec;
using testing::hexBytes;
using testing::makeRequest;
using testing::reportLines;

constexpr std::size_t windowBytes = 8192;

ExtensionSpec extension(uint8_t profile, uint8_t level, uint8_t chromaFormat = 1) {
    ExtensionSpec description;
    description.profile = profile;
    description.level = level;
    description.chromaFormat = chromaFormat;
    return description;
}

struct Outcome {
    std::string report;
    Bytes window;
    RunCounters counters;
    HeaderPatchState state;
};

// A window (filled with 5A) holding a 720 x 576 header at `headerOffset` and, 12 bytes
// on, the start code that `place` writes there.
struct Layout {
    std::size_t headerOffset = 0;
    int64_t firstBlock = 0;
    uint16_t nextStartDistance = 12;
    std::size_t bytesInFile = windowBytes;
};

// Only the extension handler runs, as after a header in which nothing was patched.
template <typename Place>
Outcome handleExtension(Place place, const PatchRequest& request, const Layout& layout = {}) {
    Outcome outcome{"", Bytes(windowBytes, 0x5A), {}, {}};
    testing::putSequenceHeader(outcome.window, layout.headerOffset, HeaderSpec{});
    place(outcome.window, layout.headerOffset + layout.nextStartDistance);
    testing::ReportCapture capture;
    EXPECT_TRUE(capture.opened());
    ScanWindow window{outcome.window.data(), layout.firstBlock, layout.bytesInFile};
    ScanRun run{request, capture.sink, outcome.counters};
    processSequenceExtension(window, layout.headerOffset, layout.nextStartDistance, run, outcome.state);
    outcome.report = capture.close();
    return outcome;
}

auto sequenceExtension(const ExtensionSpec& description) {
    return [description](Bytes& bytes, std::size_t at) {
        testing::putSequenceExtension(bytes, at, description);
    };
}

constexpr std::string_view foundAt16 = "+ Sequence extension found at 16 (10h)";

struct ExtensionCase {
    const char* name;
    ExtensionSpec description;
    void (*fill)(PatchRequest&);
    std::vector<std::string_view> lines;
    const char* bytes4And5;
    uint16_t fieldsPatched;
};

TEST(ExtensionFieldsTest, FieldLinesAndPatchedBytes) {
    ExtensionSpec lowBitOfByte5 = extension(4, 8);
    lowBitOfByte5.horizontalSizeExtension = 2;  // bit 0 of byte 5 set, bit 7 of byte 6 clear
    const ExtensionCase cases[] = {
        {"main_profile_main_level",
         extension(4, 8),
         nullptr,
         {foundAt16, "  profile               : 4 (MP) -> not patched",
          "  level                 : 8 (ML) -> not patched",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 1 (4:2:0) -> not patched"},
         "14 82",
         0},
        {"same_values_requested",
         extension(4, 8),
         [](PatchRequest& r) {
             r.profile = 4;
             r.level = 8;
             r.progressiveSequence = 1;  // false
             r.chromaFormat = 1;
         },
         {foundAt16, "  profile               : 4 (MP) -> not patched",
          "  level                 : 8 (ML) -> not patched",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 1 (4:2:0) -> not patched"},
         "14 82",
         0},
        {"escape_profile_requested_level_kept",
         extension(4, 8),
         [](PatchRequest& r) { r.profile = 8; },
         {foundAt16, "  profile               : 4 (MP) -> patched to 8 (Escape P@L, see level)",
          "  level                 : 8 (unknown P@L) -> not patched",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 1 (4:2:0) -> not patched"},
         "18 82",
         1},
        {"escape_profile_and_level_11",
         extension(4, 8),
         [](PatchRequest& r) {
             r.profile = 8;
             r.level = 11;
         },
         {foundAt16, "  profile               : 4 (MP) -> patched to 8 (Escape P@L, see level)",
          "  level                 : 8 (unknown P@L) -> patched to 11 (MVP@H-14)",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 1 (4:2:0) -> not patched"},
         "18 B2",  // profile bits 1000, level bits 1011
         2},
        {"422_stream",
         extension(8, 5, 2),
         nullptr,
         {foundAt16, "  profile               : 8 (Escape P@L, see level) -> not patched",
          "  level                 : 5 (422P@ML) -> not patched",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 2 (4:2:2) -> not patched"},
         "18 54",
         0},
        {"main_profile_requested_on_422_stream",
         extension(8, 5, 2),
         [](PatchRequest& r) { r.profile = 4; },
         {foundAt16, "  profile               : 8 (Escape P@L, see level) -> patched to 4 (MP)",
          "  level                 : 5 (unknown level) -> not patched",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 2 (4:2:2) -> not patched"},
         "14 54",
         1},
        {"escape_level_requested_on_422_stream",
         extension(8, 5, 2),
         [](PatchRequest& r) { r.level = 2; },
         {foundAt16, "  profile               : 8 (Escape P@L, see level) -> not patched",
          "  level                 : 5 (422P@ML) -> patched to 2 (422P@HL)",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 2 (4:2:2) -> not patched"},
         "18 24",
         1},
        {"profile_6_without_name",
         extension(4, 8),
         [](PatchRequest& r) { r.profile = 6; },
         {foundAt16, "  profile               : 4 (MP) -> patched to 6 (unknown profile)",
          "  level                 : 8 (ML) -> not patched",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 1 (4:2:0) -> not patched"},
         "16 82",
         1},
        {"progressive_requested",
         extension(4, 8),
         [](PatchRequest& r) { r.progressiveSequence = 2; },  // true
         {foundAt16, "  profile               : 4 (MP) -> not patched",
          "  level                 : 8 (ML) -> not patched",
          "  progressive sequence  : 0 (false) -> patched to 1 (true)",
          "  chroma subsampling    : 1 (4:2:0) -> not patched"},
         "14 8A",  // bit 3 of byte 5 only
         1},
        {"chroma_422_requested",
         extension(4, 8),
         [](PatchRequest& r) { r.chromaFormat = 2; },
         {foundAt16, "  profile               : 4 (MP) -> not patched",
          "  level                 : 8 (ML) -> not patched",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 1 (4:2:0) -> patched to 2 (4:2:2)"},
         "14 84",  // bit 2 set, bit 1 cleared
         1},
        {"level_progressive_chroma_share_byte_5",
         lowBitOfByte5,
         [](PatchRequest& r) {
             r.level = 4;
             r.progressiveSequence = 2;
             r.chromaFormat = 3;
         },
         {foundAt16, "  profile               : 4 (MP) -> not patched",
          "  level                 : 8 (ML) -> patched to 4 (HL)",
          "  progressive sequence  : 0 (false) -> patched to 1 (true)",
          "  chroma subsampling    : 1 (4:2:0) -> patched to 3 (4:4:4)"},
         "14 4F",  // from 83: 0100 1 11 and bit 0 kept
         3},
        {"reserved_chroma_code_0",
         extension(4, 8, 0),
         nullptr,
         {foundAt16, "  profile               : 4 (MP) -> not patched",
          "  level                 : 8 (ML) -> not patched",
          "  progressive sequence  : 0 (false) -> not patched",
          "  chroma subsampling    : 0 (reserved) -> not patched"},
         "14 80",
         0},
    };
    for (const ExtensionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = handleExtension(sequenceExtension(c.description), makeRequest(c.fill));
        EXPECT_EQ(outcome.report, reportLines(c.lines));
        EXPECT_EQ(hexBytes(outcome.window, 16, 2), c.bytes4And5);
        const RunCounters& n = outcome.counters;
        EXPECT_EQ(n.profilePatched + n.levelPatched + n.progressiveSequencePatched + n.chromaFormatPatched,
                  c.fieldsPatched);
        EXPECT_EQ(n.extensionsFound, 1);
        EXPECT_EQ(n.extensionsPatched, c.fieldsPatched != 0 ? 1 : 0);
        EXPECT_EQ(outcome.state.extensionChanged, c.fieldsPatched != 0);
        EXPECT_FALSE(outcome.state.headerChanged);
        // Nothing but bytes 4 and 5 of the extension may change.
        Bytes expected(windowBytes, 0x5A);
        testing::putSequenceHeader(expected, 0, HeaderSpec{});
        testing::putSequenceExtension(expected, 12, c.description);
        for (std::size_t offset : testing::differingOffsets(expected, outcome.window))
            EXPECT_TRUE(offset == 16 || offset == 17) << "byte " << offset << " changed";
    }
}

TEST(ExtensionFieldsTest, NameTexts) {
    struct Case {
        uint8_t profile, level, chroma;
        const char* profileText;
        const char* levelText;
        const char* chromaText;
    };
    const Case cases[] = {
        {1, 2, 3, "1 (HP)", "2 (HPL)", "3 (4:4:4)"},
        {2, 4, 1, "2 (SPT)", "4 (HL)", "1 (4:2:0)"},
        {3, 6, 1, "3 (SNR)", "6 (H-14)", "1 (4:2:0)"},
        {5, 10, 1, "5 (SP)", "10 (LL)", "1 (4:2:0)"},
        {4, 3, 1, "4 (MP)", "3 (unknown level)", "1 (4:2:0)"},
        {0, 8, 1, "0 (unknown profile)", "8 (ML)", "1 (4:2:0)"},
        {8, 2, 2, "8 (Escape P@L, see level)", "2 (422P@HL)", "2 (4:2:2)"},
        {8, 10, 1, "8 (Escape P@L, see level)", "10 (MVP@HL)", "1 (4:2:0)"},
        {8, 11, 1, "8 (Escape P@L, see level)", "11 (MVP@H-14)", "1 (4:2:0)"},
        {8, 13, 1, "8 (Escape P@L, see level)", "13 (MVP@ML)", "1 (4:2:0)"},
        {8, 14, 1, "8 (Escape P@L, see level)", "14 (MVP@LL)", "1 (4:2:0)"},
        {8, 0, 1, "8 (Escape P@L, see level)", "0 (unknown P@L)", "1 (4:2:0)"},
        {15, 5, 1, "15 (unknown profile)", "5 (422P@ML)", "1 (4:2:0)"},  // escape bit set
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "profile " << int{c.profile} << ", level " << int{c.level});
        const Outcome outcome =
            handleExtension(sequenceExtension(extension(c.profile, c.level, c.chroma)), {});
        EXPECT_EQ(
            outcome.report,
            reportLines({foundAt16,
                         "  profile               : " + std::string(c.profileText) + " -> not patched",
                         "  level                 : " + std::string(c.levelText) + " -> not patched",
                         "  progressive sequence  : 0 (false) -> not patched",
                         "  chroma subsampling    : " + std::string(c.chromaText) + " -> not patched"}));
    }
}

TEST(ExtensionFieldsTest, OnlyASequenceExtensionIsTaken) {
    struct Case {
        const char* name;
        uint8_t startCode;
        uint8_t identifier;  // for 00 00 01 B5
    };
    const Case cases[] = {
        {"group_of_pictures", 0xB8, 0},
        {"picture", 0x00, 0},
        {"sequence_display_extension", 0xB5, 2},
        {"quant_matrix_extension", 0xB5, 3},
    };
    PatchRequest everything;
    everything.profile = 5;
    everything.level = 10;
    everything.progressiveSequence = 2;
    everything.chromaFormat = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto place = [&c](Bytes& bytes, std::size_t at) {
            if (c.startCode != 0xB5) return testing::putStartCode(bytes, at, c.startCode);
            ExtensionSpec description = extension(4, 8);
            description.identifier = c.identifier;
            testing::putSequenceExtension(bytes, at, description);
        };
        Bytes before(windowBytes, 0x5A);
        testing::putSequenceHeader(before, 0, HeaderSpec{});
        place(before, 12);
        const Outcome outcome = handleExtension(place, everything);
        EXPECT_EQ(outcome.report, "");
        EXPECT_EQ(outcome.window, before);
        EXPECT_EQ(outcome.counters.extensionsFound, 0);
        EXPECT_EQ(outcome.counters.extensionsPatched, 0);
        EXPECT_FALSE(outcome.state.extensionChanged);
    }
}

TEST(ExtensionFieldsTest, FoundLineGivesFileOffsetOfByte4) {
    struct Case {
        const char* name;
        Layout layout;
        const char* line;
    };
    const Case cases[] = {
        {"right_after_header_at_start", {0, 0, 12, windowBytes}, "+ Sequence extension found at 16 (10h)"},
        {"later_block", {4000, 3, 12, windowBytes}, "+ Sequence extension found at 16304 (3FB0h)"},
        {"farthest_distance", {4095, 0, 206, windowBytes}, "+ Sequence extension found at 4305 (10D1h)"},
        {"past_4_GiB",
         {4092, 1048575, 12, windowBytes},
         "+ Sequence extension found at 4294967308 (10000000Ch)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = handleExtension(sequenceExtension(extension(4, 8)), {}, c.layout);
        EXPECT_EQ(outcome.report.substr(0, outcome.report.find("\r\n")), c.line);
    }
}

TEST(ExtensionFieldsTest, ExtensionCutOffByTheEndOfTheFileIsNotTaken) {
    // The extension's byte 5 is window byte 17.
    struct Case {
        const char* name;
        std::size_t bytesInFile;
        bool taken;
    };
    const Case cases[] = {
        {"byte_5_is_the_first_missing_byte", 17, false},
        {"byte_5_is_the_last_byte", 18, true},
        {"whole_window_in_file", windowBytes, true},
    };
    PatchRequest r;
    r.chromaFormat = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome =
            handleExtension(sequenceExtension(extension(4, 8)), r, {0, 0, 12, c.bytesInFile});
        EXPECT_EQ(outcome.counters.extensionsFound, c.taken ? 1 : 0);
        EXPECT_EQ(outcome.state.extensionChanged, c.taken);
        EXPECT_EQ(outcome.report.empty(), !c.taken);
        EXPECT_EQ(outcome.window[17], c.taken ? 0x84 : 0x82);
    }
}

// Every extension bit of the header fields set: bytes 4 to 9 read 14 83 FF FF FF FF.
ExtensionSpec allExtensionBitsSet(uint8_t markerBit = 1) {
    ExtensionSpec description = extension(4, 8);
    description.horizontalSizeExtension = 3;
    description.verticalSizeExtension = 3;
    description.bitRateExtension = 0xFFF;
    description.markerBit = markerBit;
    description.vbvBufferSizeExtension = 0xFF;
    description.lowDelay = 1;
    description.frameRateExtensionN = 3;
    description.frameRateExtensionD = 31;
    return description;
}

TEST(ExtensionFieldsTest, PatchedHeaderFieldsLeaveNoStaleExtensionBits) {
    struct Case {
        const char* name;
        uint8_t markerBit;
        void (*fill)(PatchRequest&);
        const char* bytes4To9;
    };
    const Case cases[] = {
        {"nothing_requested", 1, nullptr, "14 83 FF FF FF FF"},
        {"horizontal_size", 1, [](PatchRequest& r) { r.horizontalSize = 704; }, "14 82 7F FF FF FF"},
        {"vertical_size", 1, [](PatchRequest& r) { r.verticalSize = 480; }, "14 83 9F FF FF FF"},
        {"bit_rate_keeps_marker", 1, [](PatchRequest& r) { r.bitRate = 90000; }, "14 83 E0 01 FF FF"},
        {"vbv_buffer_size", 1, [](PatchRequest& r) { r.vbvBufferSize = 224; }, "14 83 FF FF 00 FF"},
        {"frame_rate_keeps_low_delay", 1, [](PatchRequest& r) { r.frameRate = 4; }, "14 83 FF FF FF 80"},
        {"aspect_ratio_has_no_extension_bits", 1, [](PatchRequest& r) { r.aspectRatio = 3; },
         "14 83 FF FF FF FF"},
        {"constrained_flag_has_no_extension_bits", 1, [](PatchRequest& r) { r.constrainedParameters = 2; },
         "14 83 FF FF FF FF"},
        {"same_size_requested_is_no_patch", 1, [](PatchRequest& r) { r.horizontalSize = 720; },
         "14 83 FF FF FF FF"},
        {"horizontal_size_and_chroma_share_byte_5", 1,
         [](PatchRequest& r) {
             r.horizontalSize = 704;
             r.chromaFormat = 2;
         },
         "14 84 7F FF FF FF"},
        {"all_fields", 1,
         [](PatchRequest& r) {
             r.horizontalSize = 1920;
             r.verticalSize = 1088;
             r.frameRate = 4;
             r.bitRate = 90000;
             r.vbvBufferSize = 224;
         },
         "14 82 00 01 00 80"},
        {"marker_bit_0_guards_everything", 0,
         [](PatchRequest& r) {
             r.horizontalSize = 1920;
             r.verticalSize = 1088;
             r.frameRate = 4;
             r.bitRate = 90000;
             r.vbvBufferSize = 224;
         },
         "14 83 FF FE FF FF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PatchRequest request = makeRequest(c.fill);
        Bytes bytes(windowBytes, 0x5A);
        testing::putMpeg2Header(bytes, 0, HeaderSpec{}, allExtensionBitsSet(c.markerBit));
        testing::ReportCapture capture;
        ASSERT_TRUE(capture.opened());
        RunCounters counters;
        HeaderPatchState state;
        ScanWindow window{bytes.data(), 0};
        ScanRun run{request, capture.sink, counters};
        processSequenceHeader(window, 0, decodeSequenceHeader(bytes.data()), run, state);
        processSequenceExtension(window, 0, 12, run, state);
        const std::string report = capture.close();

        EXPECT_EQ(hexBytes(bytes, 16, 6), c.bytes4To9);
        EXPECT_EQ(hexBytes(bytes, 22, 4), "00 00 01 B8");  // what follows stays
        // The clearing is silent: no line of its own, no counter, no flag.
        EXPECT_EQ(counters.extensionsPatched, request.chromaFormat != 0 ? 1 : 0);
        EXPECT_EQ(state.extensionChanged, request.chromaFormat != 0);
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 13);
    }
}

TEST(ExtensionFieldsTest, NoExtensionMeansNothingIsCleared) {
    PatchRequest r;
    r.horizontalSize = 704;
    r.bitRate = 90000;
    Bytes bytes(windowBytes, 0xFF);
    testing::putMpeg1Header(bytes, 0, HeaderSpec{});
    const Bytes before = bytes;
    testing::ReportCapture capture;
    ASSERT_TRUE(capture.opened());
    RunCounters counters;
    HeaderPatchState state;
    ScanWindow window{bytes.data(), 0};
    ScanRun run{r, capture.sink, counters};
    processSequenceHeader(window, 0, decodeSequenceHeader(bytes.data()), run, state);
    processSequenceExtension(window, 0, 12, run, state);
    capture.close();
    for (std::size_t offset : testing::differingOffsets(before, bytes))
        EXPECT_TRUE(offset >= 4 && offset <= 11) << "byte " << offset << " changed";
    EXPECT_EQ(counters.extensionsFound, 0);
}

TEST(ExtensionFieldsTest, CountersWrapFrom65535To0) {
    PatchRequest r;
    r.chromaFormat = 2;
    Bytes bytes(windowBytes, 0x5A);
    testing::putMpeg2Header(bytes, 0);
    testing::ReportCapture capture;
    ASSERT_TRUE(capture.opened());
    RunCounters counters;
    counters.extensionsFound = 65535;
    counters.extensionsPatched = 65535;
    counters.chromaFormatPatched = 65535;
    HeaderPatchState state;
    ScanWindow window{bytes.data(), 0};
    ScanRun run{r, capture.sink, counters};
    processSequenceExtension(window, 0, 12, run, state);
    capture.close();
    EXPECT_EQ(counters.extensionsFound, 0);
    EXPECT_EQ(counters.extensionsPatched, 0);
    EXPECT_EQ(counters.chromaFormatPatched, 0);
}

}  // namespace
}  // namespace tessarwick
