// Report-only runs on real streams made by ffmpeg, judged by ffmpeg's own reading of the same
// headers: every header the tool reports is the one ffmpeg sees at that place, field by field
// (where a container's packet header cuts it, the fields in the cut-off bytes are the file's
// bytes as read); every header ffmpeg sees in the searched range and the tool passes over has a
// reason; the file is left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <tuple>
#include <vector>

#include "real_streams/ffmpeg_oracle.h"
#include "real_streams/tool_report.h"
#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick::testing {
namespace {

struct FixtureCase {
    const char* fixture;
    // Headers and extensions reported without and with /all.
    std::size_t headersFirst, extensionsFirst, headersAll, extensionsAll;
};

const FixtureCase kFixtures[] = {
    {"mpeg1_es.m1v", 1, 0, 3, 0},
    {"mpeg1_system.mpg", 1, 0, 3, 0},
    {"pal_dvd_4x3.m2v", 1, 1, 1, 1},
    {"ntsc_dvd_16x9.m2v", 1, 1, 1, 1},  // its sequence display extension is not taken
    {"mpeg2_422.m2v", 1, 1, 1, 1},
    {"hd1080i_150mbit.m2v", 1, 1, 1, 1},
    {"custom_matrices.m2v", 1, 1, 1, 1},  // the extension follows the 140-byte header
    {"frame_rate_ext.m2v", 1, 1, 2, 2},
    {"dvd_program.vob", 1, 1, 3, 3},
    {"dvd_split_header.vob", 1, 1, 9, 8},  // a pack header cuts one off from its extension
    {"transport.ts", 1, 1, 3, 3},
    {"many_gops.m2v", 1, 1, 9, 9},       // the ninth in the last 8 KiB
    {"rejected_small.m2v", 0, 0, 0, 0},  // every header scores 24
};

void PrintTo(const FixtureCase& c, std::ostream* out) { *out << c.fixture; }

struct ReportRun {
    int status = -1;
    Bytes before;
    Bytes after;
    ToolReport report;
    std::string reportText;
};

ReportRun runReport(const std::string& fixture, bool all) {
    TempDir dir;
    ReportRun run;
    run.before = readFile(fixturePath(fixture));
    writeFile(dir.file(fixture), run.before);
    std::vector<std::string> arguments{"/f=" + fixture, "/log"};
    if (all) arguments.push_back("/all");
    run.status = runTool(arguments, dir.path()).status;
    run.after = readFile(dir.file(fixture));
    Bytes report = readFile(dir.file(fixture + "-Tessarwick.log"));
    run.reportText.assign(report.begin(), report.end());
    run.report = parseToolReport(run.reportText);
    return run;
}

// A container's packet header that begins at header byte 11 leaves the fields in bytes 4 to 10
// whole; only the vbv buffer size and the constrained flag reach into its bytes.
constexpr std::size_t kCutAfterTheFields = 11;

// The distance from header byte 0 to the first 00 00 01 that begins 12 to 206 bytes on, where
// the tool looks for the sequence extension; 0 when there is none.
std::size_t nextStartDistance(const Bytes& file, std::size_t start) {
    for (std::size_t d = 12; d <= 206 && start + d + 3 < file.size(); ++d)
        if (file[start + d] == 0x00 && file[start + d + 1] == 0x00 && file[start + d + 2] == 0x01) return d;
    return 0;
}

// Why the tool may pass over a header that ffmpeg reads; empty when nothing explains it.
std::string whyPassedOver(const TracedHeader& traced, const Bytes& file, std::size_t start) {
    // A cut inside the fields leaves bytes that are not the header's.
    const std::size_t cut = containerCut(file, start);
    if (cut != 0 && cut != kCutAfterTheFields) return containerSplit(file, start);
    // The tool judges the values in the file: where byte 11 is the container's, those are the
    // vbv buffer size and flag it reads there.
    Plausibility verdict = plausibilityOf(cut == 0 ? traced.header : headerInFile(file, start));
    if (verdict.outright) return "rejected outright";
    if (verdict.score >= 20)
        return "score " + std::to_string(verdict.score) + " (rules " + verdict.rules + ")";
    return std::string();
}

// The reported header agrees with ffmpeg's reading of the header at the same place; where a
// container's packet header cuts it at byte 11, the fields in that byte are the file's bytes.
void expectSameHeader(const ReportedHeader& reported, const TracedHeader& traced, const Bytes& file,
                      std::size_t start) {
    const TracedUnit& h = traced.header;
    const auto& f = reported.fields;
    SCOPED_TRACE("header at file offset " + std::to_string(start));
    const std::size_t cut = containerCut(file, start);
    ASSERT_TRUE(cut == 0 || cut == kCutAfterTheFields)
        << "reported although " << containerSplit(file, start) << ", inside its fields";
    EXPECT_EQ(f[kHorizontalSize].current, h["horizontal_size_value"]);
    EXPECT_EQ(f[kVerticalSize].current, h["vertical_size_value"]);
    EXPECT_EQ(f[kAspectRatio].current, h["aspect_ratio_information"]);
    EXPECT_EQ(f[kFrameRate].current, h["frame_rate_code"]);
    // bit_rate_value counts 400 bit/s; the report shows bit/s.
    EXPECT_EQ(f[kBitRate].current, 400 * h["bit_rate_value"]);

    if (cut == kCutAfterTheFields) {
        // The low five bits of vbv_buffer_size_value and the flag lie in byte 11, which is the
        // first 00 of the container's start code: the report shows them as read from there,
        // not as ffmpeg reads them from the reassembled header.
        SCOPED_TRACE(containerSplit(file, start));
        const TracedUnit inFile = headerInFile(file, start);
        EXPECT_EQ(f[kVbvBufferSize].current, inFile["vbv_buffer_size_value"]);
        EXPECT_EQ(f[kConstrainedParameters].current, inFile["constrained_parameters_flag"]);
        EXPECT_NE(inFile["vbv_buffer_size_value"] * 2 + inFile["constrained_parameters_flag"],
                  h["vbv_buffer_size_value"] * 2 + h["constrained_parameters_flag"])
            << "the container's byte reads as ffmpeg's values, so this header shows nothing";
        // The next start code in the file is the container's, not the extension that ffmpeg
        // finds after the header in the packets.
        const std::size_t next = nextStartDistance(file, start);
        ASSERT_NE(next, 0u) << "the tool takes a header only with a start code 12 to 206 bytes on";
        EXPECT_NE(file[start + next + 3], 0xB5) << "start code " << next << " bytes on";
        EXPECT_FALSE(reported.hasExtension) << "an extension reported after the cut";
        return;
    }
    EXPECT_EQ(f[kVbvBufferSize].current, h["vbv_buffer_size_value"]);
    EXPECT_EQ(f[kConstrainedParameters].current, h["constrained_parameters_flag"]);

    ASSERT_EQ(reported.hasExtension, traced.hasExtension) << "sequence extension reported vs traced";
    if (!traced.hasExtension) return;
    // The extension is the next start code after the header, quantiser matrices included.
    EXPECT_EQ(reported.extension.offset, start + traced.length() + 4);
    ASSERT_LT(reported.extension.offset + 1, file.size());
    EXPECT_EQ(file[reported.extension.offset - 1], 0xB5);
    const TracedUnit& e = traced.extension;
    const auto& x = reported.extension.fields;
    // profile_and_level_indication: the escape bit and the profile, then the level.
    EXPECT_EQ(x[kProfile].current, e["profile_and_level_indication"] >> 4);
    EXPECT_EQ(x[kLevel].current, e["profile_and_level_indication"] & 15);
    EXPECT_EQ(x[kProgressiveSequence].current, e["progressive_sequence"]);
    EXPECT_EQ(x[kChromaFormat].current, e["chroma_format"]);
}

class RealStreamReport : public ::testing::TestWithParam<std::tuple<FixtureCase, bool>> {};

TEST_P(RealStreamReport, AgreesWithFfmpegAndLeavesTheFileAlone) {
    SKIP_WITHOUT_FFMPEG();
    const FixtureCase& c = std::get<0>(GetParam());
    const bool all = std::get<1>(GetParam());
    SCOPED_TRACE(std::string(c.fixture) + (all ? " with /all" : " without /all"));

    const HeaderTrace& trace = fixtureTrace(c.fixture);
    ASSERT_EQ(trace.status, 0) << trace.problems;
    ReportRun run = runReport(c.fixture, all);
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(run.after == run.before) << "a report-only run changed the file";
    ASSERT_EQ(run.report.problems, "") << run.reportText;
    EXPECT_EQ(summaryDisagreements(run.report), "") << run.reportText;

    // The k-th 00 00 01 B3 in the file is the k-th header in ffmpeg's trace.
    const std::vector<std::size_t> starts = sequenceHeaderStarts(run.before);
    ASSERT_EQ(starts.size(), trace.headers.size());

    std::vector<bool> reported(starts.size(), false);
    std::size_t firstReported = starts.size();
    for (const ReportedHeader& header : run.report.headers) {
        std::size_t k = 0;
        while (k < starts.size() && starts[k] + 4 != header.offset) ++k;
        ASSERT_LT(k, starts.size()) << "reported at " << header.offset << ", where no 00 00 01 B3 starts";
        EXPECT_FALSE(header.anyPatched() || (header.hasExtension && header.extension.anyPatched()));
        reported[k] = true;
        firstReported = std::min(firstReported, k);
        expectSameHeader(header, trace.headers[k], run.before, starts[k]);
    }

    // Without /all the candidates lie in block 0 and the scan ends at the first header taken.
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const bool searched = all || (starts[k] < 4096 && k <= firstReported);
        if (!searched) {
            EXPECT_FALSE(reported[k]) << "header at " << starts[k] << " lies outside the searched range";
        } else if (!reported[k]) {
            EXPECT_NE(whyPassedOver(trace.headers[k], run.before, starts[k]), "")
                << "ffmpeg reads a header at " << starts[k] << " that the tool passed over for no reason";
        }
    }

    EXPECT_EQ(run.report.headers.size(), all ? c.headersAll : c.headersFirst);
    EXPECT_EQ(run.report.extensionCount(), all ? c.extensionsAll : c.extensionsFirst);
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<FixtureCase, bool>>& info) {
    std::string name = std::get<0>(info.param).fixture;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name + (std::get<1>(info.param) ? "_all" : "_first");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealStreamReport,
                         ::testing::Combine(::testing::ValuesIn(kFixtures), ::testing::Bool()), caseName);

// ffmpeg's MPEG-2 encoder writes bit_rate_value 3FFFFh when no maximum rate is given; on a
// 160 x 112 picture with its tiny vbv buffer that scores 24 and no header is taken.
TEST(RealStreamReport, SmallDefaultRateEncodeIsRejectedByItsScore) {
    SKIP_WITHOUT_FFMPEG();
    const HeaderTrace& trace = fixtureTrace("rejected_small.m2v");
    ASSERT_EQ(trace.headers.size(), 3u);
    for (const TracedHeader& header : trace.headers) {
        Plausibility verdict = plausibilityOf(header.header);
        EXPECT_FALSE(verdict.outright);
        EXPECT_EQ(verdict.score, 24);
        EXPECT_EQ(verdict.rules, "1:5 2:5 6:5 9:5 10:3 11:1");
    }
    ReportRun run = runReport("rejected_small.m2v", true);
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.reportText.find("# Sequenceheader found 0, maybe not an mpg-video file?\r\n"),
              std::string::npos)
        << run.reportText;
}

// In a DVD program stream a pack header can cut a sequence header in two: ffmpeg reassembles
// the header from the packets, while in the file its byte 11 is the first 00 of 00 00 01 BA.
// The tool takes the header, whose fields in bytes 4 to 10 are whole, and patches them; the vbv
// buffer size and the constrained flag reach into the pack header, so it shows them as the bytes
// read and never patches them, and the pack header stays as it was.
TEST(RealStreamReport, HeaderSplitByAPackHeaderIsReportedButItsPackBytesAreNotPatched) {
    SKIP_WITHOUT_FFMPEG();
    const std::string fixture = "dvd_split_header.vob";
    const HeaderTrace& trace = fixtureTrace(fixture);
    const Bytes before = readFile(fixturePath(fixture));
    const std::vector<std::size_t> starts = sequenceHeaderStarts(before);
    ASSERT_EQ(starts.size(), 9u);
    ASSERT_EQ(trace.headers.size(), 9u);
    const std::size_t split = starts[7];
    ASSERT_EQ(split, 104437u);
    ASSERT_EQ(containerSplit(before, split), "split by a pack header at header byte 11");
    // The pack header (14 bytes, no stuffing) is followed by an AC-3 packet, 25 bytes on.
    EXPECT_EQ(nextStartDistance(before, split), 25u);
    EXPECT_EQ(before[split + 25 + 3], 0xBD);

    const TracedUnit& ffmpeg = trace.headers[7].header;
    const TracedUnit inFile = headerInFile(before, split);
    EXPECT_EQ(ffmpeg["vbv_buffer_size_value"], 112);
    EXPECT_EQ(ffmpeg["constrained_parameters_flag"], 0);
    EXPECT_TRUE(trace.headers[7].hasExtension);
    // 112 is 00011 10000: its low five bits come from the pack header's 00.
    EXPECT_EQ(inFile["vbv_buffer_size_value"], 96);
    EXPECT_EQ(inFile["constrained_parameters_flag"], 0);
    EXPECT_EQ(plausibilityOf(inFile).score, 0) << "the values in the file are taken";

    // Both requests differ from the values in every header, the split one included.
    TempDir dir;
    writeFile(dir.file(fixture), before);
    ASSERT_EQ(runTool({"/f=" + fixture, "/all", "/log", "/vbv=100", "/cp=1"}, dir.path()).status, 0);
    const Bytes after = readFile(dir.file(fixture));
    const Bytes reportBytes = readFile(dir.file(fixture + "-Tessarwick.log"));
    const std::string reportText(reportBytes.begin(), reportBytes.end());
    const ToolReport report = parseToolReport(reportText);
    ASSERT_EQ(report.problems, "") << reportText;
    ASSERT_EQ(report.headers.size(), 9u) << reportText;
    EXPECT_EQ(report.extensionCount(), 8u);
    EXPECT_EQ(report.summary.headerFieldsPatched[kVbvBufferSize], 8);
    EXPECT_EQ(report.summary.headerFieldsPatched[kConstrainedParameters], 8);

    const std::vector<std::string> lines = reportLines(reportText);
    const auto found = std::find(lines.begin(), lines.end(), "+ Sequenceheader found at 104441 (197F9h)");
    ASSERT_LT(found - lines.begin() + 8, lines.end() - lines.begin()) << reportText;
    EXPECT_EQ(found[6], "  vbv buffer size       : 96 (192 kB) -> not patched");
    EXPECT_EQ(found[7], "  constrained parameters: 0 (false) -> not patched");
    EXPECT_EQ(found[8], "+ Sequenceheader found at 124971 (1E82Bh)") << "no extension after the cut";

    // From the header's start code to the next header nothing changed: not byte 10 (the vbv
    // buffer size's high bits), not the pack header, not the packets after it.
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t offset = split; offset < starts[8]; ++offset)
        ASSERT_EQ(after[offset], before[offset]) << "at file offset " << offset;
}

}  // namespace
}  // namespace tessarwick::testing
