// A whole run as users make it, end to end: report bytes and file bytes.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick::testing {
namespace {

const std::regex timeLineWithoutData(R"(# time taken [0-9]+\.[0-9]{2} sec\.)");
const std::regex timeLineWithData(
    R"(# time taken [0-9]+\.[0-9]{2} sec\., data read [0-9]+\.[0-9] MB \([0-9]+\.[0-9] MB/s\))");

// The first MPEG-2 header of a DVD clip: 720 x 576, 4:3, 25 fps, 9.8 Mbit/s, at offset 0.
TEST(TypicalRun, AspectRatioPatchedInTheFirstHeaderOfAnMpeg2File) {
    TempDir dir;
    Bytes original(64 * 1024, 0xFF);
    putMpeg2Header(original, 0);
    putMpeg2Header(original, 30000);  // a later header is left alone without /all
    writeFile(dir.file("clip.mpg"), original);

    RunResult run = runTool({"/f=clip.mpg", "/ar=3", "/log"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.standardError;
    EXPECT_EQ(run.standardOutput, "");
    EXPECT_EQ(run.standardError, "");

    Bytes reportBytes = readFile(dir.file("clip.mpg-Tessarwick.log"));
    std::vector<std::string> lines = reportLines(std::string(reportBytes.begin(), reportBytes.end()));
    std::vector<std::string> expected{
        "# Tessarwick build 2017.04.14",
        "* File: clip.mpg",
        "* Parameter given: /ar=3",
        "+ Sequenceheader found at 4 (4h)",
        "  horizontal size       : 720 px -> not patched",
        "  vertical size         : 576 px -> not patched",
        "  aspect ratio          : 2 (4:3) -> patched to 3 (16:9)",
        "  frame rate            : 3 (25 fps) -> not patched",
        "  bit rate              : 9800000 bps -> not patched",
        "  vbv buffer size       : 112 (224 kB) -> not patched",
        "  constrained parameters: 0 (false) -> not patched",
        "+ Sequence extension found at 16 (10h)",
        "  profile               : 4 (MP) -> not patched",
        "  level                 : 8 (ML) -> not patched",
        "  progressive sequence  : 0 (false) -> not patched",
        "  chroma subsampling    : 1 (4:2:0) -> not patched",
        "# Sequenceheader found 1, patched 1",
        "  horizontal size pat.  : 0",
        "  vertical size patched : 0",
        "  aspect ratio patched  : 1",
        "  frame rate patched    : 0",
        "  bit rate patched      : 0",
        "  vbv buffer size pat.  : 0",
        "  constrained param.pat.: 0",
        "# Sequence extension found 1, patched 0",
        "  profile patched       : 0",
        "  level patched         : 0",
        "  progressive seq. pat. : 0",
        "  chroma subsampl. pat. : 0",
    };
    ASSERT_EQ(lines.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
    EXPECT_TRUE(std::regex_match(lines.back(), timeLineWithoutData)) << lines.back();
    // Every line, the last one included, ends in CR LF.
    EXPECT_EQ(reportBytes.size() >= 2 ? std::string(reportBytes.end() - 2, reportBytes.end()) : "", "\r\n");

    // Only the four aspect-ratio bits of header byte 7 changed: 0x23 became 0x33.
    Bytes after = readFile(dir.file("clip.mpg"));
    ASSERT_EQ(after.size(), original.size());
    EXPECT_EQ(differingOffsets(original, after), std::vector<std::size_t>{7});
    EXPECT_EQ(after[7], 0x33);
}

TEST(TypicalRun, WithAllTheTimeLineGoesOnWithTheDataReadAndTheRate) {
    TempDir dir;
    Bytes original(100 * 1024 + 7, 0xFF);
    for (std::size_t offset : {0u, 40000u, 90000u}) putMpeg2Header(original, offset);
    writeFile(dir.file("clip.mpg"), original);

    RunResult run = runTool({"/f=clip.mpg", "/all", "/hs=704", "/ar=3", "/log"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.standardError;
    Bytes reportBytes = readFile(dir.file("clip.mpg-Tessarwick.log"));
    std::vector<std::string> lines = reportLines(std::string(reportBytes.begin(), reportBytes.end()));
    ASSERT_GE(lines.size(), 14u);
    std::vector<std::string> summary(lines.end() - 14, lines.end() - 1);
    EXPECT_EQ(summary, (std::vector<std::string>{
                           "# Sequenceheader found 3, patched 3",
                           "  horizontal size pat.  : 3",
                           "  vertical size patched : 0",
                           "  aspect ratio patched  : 3",
                           "  frame rate patched    : 0",
                           "  bit rate patched      : 0",
                           "  vbv buffer size pat.  : 0",
                           "  constrained param.pat.: 0",
                           "# Sequence extension found 3, patched 0",
                           "  profile patched       : 0",
                           "  level patched         : 0",
                           "  progressive seq. pat. : 0",
                           "  chroma subsampl. pat. : 0",
                       }));
    EXPECT_TRUE(std::regex_match(lines.back(), timeLineWithData)) << lines.back();
    EXPECT_NE(lines.back().find("data read 0.1 MB ("), std::string::npos) << lines.back();
    // Header count agrees with the found lines.
    std::size_t headerLines = 0;
    for (const std::string& line : lines) headerLines += line.rfind("+ Sequenceheader found at ", 0) == 0;
    EXPECT_EQ(headerLines, 3u);
}

}  // namespace
}  // namespace tessarwick::testing
