// An illegal value ends the run only after the file checks: a file that is missing or
// too small ends the run first, without echo lines; a file that passes them gets every
// echo line, the termination line and status 16, and is left untouched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick::testing {
namespace {

const std::string headerLine = "# Tessarwick build 2017.04.14";
const std::string fileLine = "* File: clip.mpg";

struct OrderCase {
    const char* name;
    bool fileExists;
    std::size_t fileSize;  // bytes of clip.mpg, a sequence header at offset 0 when large enough
    std::vector<std::string> arguments;
    int expectedStatus;
    std::vector<std::string> expectedLines;
};

std::string joined(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) text += "[" + argument + "] ";
    return text;
}

TEST(EchoOrder, FileChecksComeBeforeTheValidation) {
    const OrderCase cases[] = {
        {"missing file: status 2, no echo",
         false,
         0,
         {"/f=clip.mpg", "/hs=4096", "/log"},
         2,
         {headerLine, fileLine, "# Terminating due to illegal filename given"}},
        {"file of 100 bytes: status 4, no echo",
         true,
         100,
         {"/f=clip.mpg", "/hs=4096", "/log"},
         4,
         {headerLine, fileLine, "# Terminating due to file to small (maybe not an mpg-video file?)"}},
        {"one illegal value on a file of 3 blocks: every echo line, then status 16",
         true,
         12288,
         {"/f=clip.mpg", "/ar=3", "/hs=4096", "/vs=576", "/all", "/log"},
         16,
         {headerLine, fileLine, "* Parameter given: /hs=4096(illegal due to > 4095)",
          "* Parameter given: /vs=576", "* Parameter given: /ar=3", "* Parameter given: /all",
          "# Terminating due to illegal parameter(s) given"}},
        {"several illegal values: one line each, one termination line",
         true,
         12288,
         {"/log", "/f=clip.mpg", "/br=104857300", "/cp=2", "/ar=3", "/cs=4"},
         16,
         {headerLine, fileLine, "* Parameter given: /ar=3",
          "* Parameter given: /br=104857300 (illegal due to > 104857200",
          "* Parameter given: /cp=2 (illegal due to > 1)", "* Parameter given: /cs=4 (illegal due to > 3)",
          "# Terminating due to illegal parameter(s) given"}},
    };
    for (const OrderCase& c : cases) {
        TempDir directory;
        const std::string videoPath = directory.file("clip.mpg");
        Bytes original;
        if (c.fileExists) {
            original.assign(c.fileSize, 0x00);
            // A header whose aspect ratio differs from the requested one, so a patch that
            // slipped past the refusal would show in the file.
            if (c.fileSize >= 12288) putMpeg2Header(original, 0);
            writeFile(videoPath, original);
        }

        const RunResult result = runTool(c.arguments, directory.path());

        const std::string context = std::string(c.name) + ": arguments " + joined(c.arguments);
        EXPECT_EQ(result.status, c.expectedStatus) << context;
        EXPECT_EQ(result.standardOutput, "") << context;
        EXPECT_EQ(result.standardError, "") << context;
        const std::string reportPath = videoPath + "-Tessarwick.log";
        ASSERT_TRUE(fileExists(reportPath)) << context;
        const Bytes report = readFile(reportPath);
        EXPECT_EQ(std::string(report.begin(), report.end()), reportText(c.expectedLines)) << context;
        if (c.fileExists) {
            EXPECT_EQ(readFile(videoPath), original) << context << ": the video file must not change";
        } else {
            EXPECT_FALSE(fileExists(videoPath)) << context << ": a missing video file must not be created";
        }
    }
}

}  // namespace
}  // namespace tessarwick::testing
