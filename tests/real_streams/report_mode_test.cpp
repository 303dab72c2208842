// Report-only runs on real streams made by ffmpeg, judged by ffmpeg's own reading of the same
// headers: every header the tool reports is the one ffmpeg sees at that place, field by field;
// every header ffmpeg sees in the searched range and the tool passes over has a reason; the file
// is left as it was.
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
    {"dvd_split_header.vob", 1, 1, 8, 8},  // of 9: one is split by a pack header
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

// Why the tool may pass over a header that ffmpeg reads; empty when nothing explains it.
std::string whyPassedOver(const TracedHeader& traced, const Bytes& file, std::size_t start) {
    std::string split = containerSplit(file, start);
    if (!split.empty()) return split;
    Plausibility verdict = plausibilityOf(traced.header);
    if (verdict.outright) return "rejected outright";
    if (verdict.score >= 20)
        return "score " + std::to_string(verdict.score) + " (rules " + verdict.rules + ")";
    return std::string();
}

// The reported header agrees with ffmpeg's reading of the header at the same place.
void expectSameHeader(const ReportedHeader& reported, const TracedHeader& traced, const Bytes& file,
                      std::size_t start) {
    const TracedUnit& h = traced.header;
    const auto& f = reported.fields;
    SCOPED_TRACE("header at file offset " + std::to_string(start));
    EXPECT_EQ(f[kHorizontalSize].current, h["horizontal_size_value"]);
    EXPECT_EQ(f[kVerticalSize].current, h["vertical_size_value"]);
    EXPECT_EQ(f[kAspectRatio].current, h["aspect_ratio_information"]);
    EXPECT_EQ(f[kFrameRate].current, h["frame_rate_code"]);
    // bit_rate_value counts 400 bit/s; the report shows bit/s.
    EXPECT_EQ(f[kBitRate].current, 400 * h["bit_rate_value"]);
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
TEST(RealStreamReport, HeaderSplitByAPackHeaderIsPassedOver) {
    SKIP_WITHOUT_FFMPEG();
    const HeaderTrace& trace = fixtureTrace("dvd_split_header.vob");
    Bytes file = readFile(fixturePath("dvd_split_header.vob"));
    std::vector<std::size_t> starts = sequenceHeaderStarts(file);
    ASSERT_EQ(starts.size(), 9u);
    ASSERT_EQ(trace.headers.size(), 9u);
    EXPECT_EQ(starts[7], 104437u);
    EXPECT_EQ(containerSplit(file, starts[7]), "split by a pack header at header byte 11");
    EXPECT_EQ(plausibilityOf(trace.headers[7].header).score, 0) << "ffmpeg's values alone would be taken";

    ReportRun run = runReport("dvd_split_header.vob", true);
    ASSERT_EQ(run.status, 0);
    for (const ReportedHeader& header : run.report.headers) EXPECT_NE(header.offset, 104437u + 4);
    EXPECT_EQ(run.report.headers.size(), 8u);
}

}  // namespace
}  // namespace tessarwick::testing
