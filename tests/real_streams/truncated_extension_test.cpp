// A file that ends inside the sequence extension of its last header: the 150 Mbit/s 4:2:2
// stream followed by the first bytes of its own header and extension, as a cut recording or a
// copy broken off would leave it. The extension is taken only when its byte 5 (the level, the
// progressive flag and the chroma format) is in the file; a patch of the cut header must not
// claim anything of the missing extension or write past the file's end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "real_streams/ffmpeg_oracle.h"
#include "real_streams/tool_report.h"
#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick::testing {
namespace {

struct CutCase {
    const char* name;
    std::size_t tailBytes;  // bytes of the stream's start appended: header bytes 0-11, extension bytes 0-n
    bool extensionTaken;
};

void PrintTo(const CutCase& c, std::ostream* out) { *out << c.name; }

class TruncatedExtension : public ::testing::TestWithParam<CutCase> {};

TEST_P(TruncatedExtension, IsReportedOnlyWhenItsByte5IsInTheFile) {
    SKIP_WITHOUT_FFMPEG();
    const CutCase& c = GetParam();
    const Bytes stream = readFile(fixturePath("hd1080i_150mbit.m2v"));
    // The stream starts with its header, and its extension right after it at offset 12.
    ASSERT_EQ(sequenceHeaderStarts(stream), std::vector<std::size_t>{0});
    ASSERT_EQ(stream[15], 0xB5);
    Bytes before = stream;
    before.insert(before.end(), stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(c.tailBytes));
    const std::size_t cutHeader = stream.size();

    TempDir dir;
    writeFile(dir.file("cut.m2v"), before);
    // bit rate in both headers (with the first extension's bit_rate_extension cleared), profile
    // 4 in every extension that is taken.
    RunResult run = runTool({"/f=cut.m2v", "/all", "/log", "/br=9000000", "/pr=4"}, dir.path());
    ASSERT_EQ(run.status, 0);
    const Bytes after = readFile(dir.file("cut.m2v"));
    Bytes reportBytes = readFile(dir.file("cut.m2v-Tessarwick.log"));
    const std::string reportText(reportBytes.begin(), reportBytes.end());
    const ToolReport report = parseToolReport(reportText);
    ASSERT_EQ(report.problems, "") << reportText;
    EXPECT_EQ(summaryDisagreements(report), "") << reportText;

    ASSERT_EQ(report.headers.size(), 2u) << reportText;
    EXPECT_EQ(report.headers[0].offset, 4u);
    EXPECT_TRUE(report.headers[0].hasExtension);
    EXPECT_EQ(report.headers[1].offset, cutHeader + 4);
    EXPECT_TRUE(report.headers[1].fields[kBitRate].patched);
    EXPECT_EQ(report.headers[1].hasExtension, c.extensionTaken) << reportText;

    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(unclaimedChanges(before, after, report), std::vector<std::size_t>{});

    // ffmpeg reads the patched bit rate in both headers, and stops in the cut extension.
    const HeaderTrace trace = traceHeaders(dir.file("cut.m2v"));
    ASSERT_EQ(trace.headers.size(), 2u) << trace.problems;
    EXPECT_EQ(trace.headers[0].header["bit_rate_value"], 22500);
    EXPECT_EQ(trace.headers[0].extension["bit_rate_extension"], 0);
    EXPECT_EQ(trace.headers[0].extension["profile_and_level_indication"], 0x42);
    EXPECT_EQ(trace.headers[1].header["bit_rate_value"], 22500);
    EXPECT_NE(trace.problems.find("bitstream ended"), std::string::npos) << trace.problems;
    EXPECT_FALSE(trace.headers[1].extension.has("frame_rate_extension_d"));
    if (c.extensionTaken)
        EXPECT_EQ(trace.headers[1].extension["profile_and_level_indication"], 0x42);
    else
        EXPECT_FALSE(trace.headers[1].extension.has("profile_and_level_indication"));
}

INSTANTIATE_TEST_SUITE_P(
    Hd1080i150Mbit, TruncatedExtension,
    ::testing::Values(CutCase{"EndsAfterExtensionByte3", 16, false},  // identifier and profile missing
                      CutCase{"EndsAfterExtensionByte4", 17, false},  // identifier 1 there, byte 5 missing
                      CutCase{"EndsAfterExtensionByte5", 18, true}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tessarwick::testing
