// The run summary: its lines as they reach a real report file, and the time arithmetic.
#include "report/run_summary.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick {
namespace {

// The time arithmetic with the tick given, on the texts the summary writes.
TEST(SummaryFigures, TimeDataAndRate) {
    struct Case {
        const char* name;
        uint32_t startTick, nowTick;
        uint64_t fileSizeBytes;
        uint32_t elapsedMs;
        std::string seconds, megabytes, rate;
    } const cases[] = {
        {"12341 ms, 700 MB", 1000, 13341, 734003200, 12346, "12.35", "700.0", "56.7"},
        {"1000 ms shows 1.005 s as 1.01", 50, 1050, 1048576, 1005, "1.01", "1.0", "1.0"},
        {"0 ms still counts 5", 777, 777, 12288, 5, "0.01", "0.0", "2.3"},
        {"tick wrapped during the run", 0xFFFFFF00u, 0x10, 12288, 0x115, "0.28", "0.0", "0.0"},
    };
    for (const Case& c : cases) {
        SummaryFigures figures = summaryFigures(c.startTick, c.nowTick, c.fileSizeBytes);
        EXPECT_EQ(figures.elapsedMs, c.elapsedMs) << c.name;
        EXPECT_EQ(fixedText(figures.seconds, 2).view(), c.seconds) << c.name;
        EXPECT_EQ(fixedText(figures.megabytes, 1).view(), c.megabytes) << c.name;
        EXPECT_EQ(fixedText(figures.rate, 1).view(), c.rate) << c.name;
    }
}

// The summary written through a real report file and read back, one line per entry. The
// time line depends on the clock, so it is checked by its format.
std::vector<std::string> summaryLines(const RunCounters& counters, bool patchAll, uint32_t startTick,
                                      uint64_t fileSizeBytes) {
    testing::TempDir dir;
    ReportSink sink;
    EXPECT_TRUE(openReportSink(sink, true, dir.file("v.mpg")));
    writeRunSummary(sink, counters, patchAll, startTick, fileSizeBytes);
    closeReportSink(sink);
    testing::Bytes bytes = testing::readFile(dir.file("v.mpg-Tessarwick.log"));
    std::string report(bytes.begin(), bytes.end());
    EXPECT_TRUE(report.ends_with("\r\n")) << "the last line ends in CR LF too";
    return testing::reportLines(report);
}

RunCounters countersWrappedTo0() {
    RunCounters counters;
    for (int accepted = 0; accepted < 65536; ++accepted) {
        ++counters.headersFound;
        ++counters.extensionsFound;
    }
    return counters;
}

TEST(RunSummary, TotalsAndRows) {
    RunCounters mpeg1;
    mpeg1.headersFound = 2;
    mpeg1.headersPatched = 1;
    mpeg1.aspectRatioPatched = 1;
    RunCounters nothingRequested;
    nothingRequested.headersFound = 1;
    nothingRequested.extensionsFound = 1;
    RunCounters threeHeadersTwoFields;
    threeHeadersTwoFields.headersFound = 3;
    threeHeadersTwoFields.headersPatched = 3;
    threeHeadersTwoFields.extensionsFound = 3;
    threeHeadersTwoFields.horizontalSizePatched = 3;
    threeHeadersTwoFields.aspectRatioPatched = 3;
    // A different value in every counter shows each row reads its own one.
    const RunCounters allDifferent{65535, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

    struct Case {
        const char* name;
        RunCounters counters;
        std::vector<std::string> expected;  // every line but the time line
    } const cases[] = {
        {"no header",
         {},
         {"# Sequenceheader found 0, maybe not an mpg-video file?", "  horizontal size pat.  : 0",
          "  vertical size patched : 0", "  aspect ratio patched  : 0", "  frame rate patched    : 0",
          "  bit rate patched      : 0", "  vbv buffer size pat.  : 0", "  constrained param.pat.: 0",
          "# Sequence extension found 0, maybe not an mpg2-video file?", "  profile patched       : 0",
          "  level patched         : 0", "  progressive seq. pat. : 0", "  chroma subsampl. pat. : 0"}},
        {"MPEG-1 only",
         mpeg1,
         {"# Sequenceheader found 2, patched 1", "  horizontal size pat.  : 0", "  vertical size patched : 0",
          "  aspect ratio patched  : 1", "  frame rate patched    : 0", "  bit rate patched      : 0",
          "  vbv buffer size pat.  : 0", "  constrained param.pat.: 0",
          "# Sequence extension found 0, maybe not an mpg2-video file?", "  profile patched       : 0",
          "  level patched         : 0", "  progressive seq. pat. : 0", "  chroma subsampl. pat. : 0"}},
        {"found but nothing requested",
         nothingRequested,
         {"# Sequenceheader found 1, patched 0", "  horizontal size pat.  : 0", "  vertical size patched : 0",
          "  aspect ratio patched  : 0", "  frame rate patched    : 0", "  bit rate patched      : 0",
          "  vbv buffer size pat.  : 0", "  constrained param.pat.: 0",
          "# Sequence extension found 1, patched 0", "  profile patched       : 0",
          "  level patched         : 0", "  progressive seq. pat. : 0", "  chroma subsampl. pat. : 0"}},
        {"three headers, two fields each",
         threeHeadersTwoFields,
         {"# Sequenceheader found 3, patched 3", "  horizontal size pat.  : 3", "  vertical size patched : 0",
          "  aspect ratio patched  : 3", "  frame rate patched    : 0", "  bit rate patched      : 0",
          "  vbv buffer size pat.  : 0", "  constrained param.pat.: 0",
          "# Sequence extension found 3, patched 0", "  profile patched       : 0",
          "  level patched         : 0", "  progressive seq. pat. : 0", "  chroma subsampl. pat. : 0"}},
        {"every counter different",
         allDifferent,
         {"# Sequenceheader found 65535, patched 2", "  horizontal size pat.  : 5",
          "  vertical size patched : 6", "  aspect ratio patched  : 7", "  frame rate patched    : 8",
          "  bit rate patched      : 9", "  vbv buffer size pat.  : 10", "  constrained param.pat.: 11",
          "# Sequence extension found 3, patched 4", "  profile patched       : 12",
          "  level patched         : 13", "  progressive seq. pat. : 14", "  chroma subsampl. pat. : 15"}},
        {"65536 headers wrap to 0",
         countersWrappedTo0(),
         {"# Sequenceheader found 0, maybe not an mpg-video file?", "  horizontal size pat.  : 0",
          "  vertical size patched : 0", "  aspect ratio patched  : 0", "  frame rate patched    : 0",
          "  bit rate patched      : 0", "  vbv buffer size pat.  : 0", "  constrained param.pat.: 0",
          "# Sequence extension found 0, maybe not an mpg2-video file?", "  profile patched       : 0",
          "  level patched         : 0", "  progressive seq. pat. : 0", "  chroma subsampl. pat. : 0"}},
    };
    const std::regex timeLine(R"(# time taken \d+\.\d\d sec\.)");
    for (const Case& c : cases) {
        std::vector<std::string> lines = summaryLines(c.counters, false, platform::tickMilliseconds(), 20000);
        ASSERT_EQ(lines.size(), c.expected.size() + 1) << c.name;
        for (std::size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(lines[i], c.expected[i]) << c.name;
        EXPECT_TRUE(std::regex_match(lines.back(), timeLine)) << c.name << ": " << lines.back();
    }
}

// The time line reads the tick once, after the counter lines: with a start 12341 ms in the
// past the run shows at least 12.35 s. Only /all adds the data read and the rate.
TEST(RunSummary, TimeLineWithAndWithoutAll) {
    const std::regex withoutAll(R"(# time taken (\d+\.\d\d) sec\.)");
    const std::regex withAll(R"(# time taken (\d+\.\d\d) sec\., data read 700\.0 MB \((\d+\.\d) MB/s\))");
    for (bool patchAll : {false, true}) {
        uint32_t startTick = platform::tickMilliseconds() - 12341;
        std::vector<std::string> lines = summaryLines({}, patchAll, startTick, 734003200);
        ASSERT_EQ(lines.size(), 14u);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines.back(), match, patchAll ? withAll : withoutAll))
            << "patchAll " << patchAll << ": " << lines.back();
        double seconds = std::stod(match[1].str());
        EXPECT_GE(seconds, 12.35) << lines.back();
        EXPECT_LT(seconds, 22.35) << lines.back();
        if (patchAll) {
            double rate = std::stod(match[2].str());
            EXPECT_LE(rate, 56.7) << lines.back();
            EXPECT_GT(rate, 30.0) << lines.back();
        }
    }
}

}  // namespace
}  // namespace tessarwick
