// How a run starts and how it is refused, seen from outside: the real binary in a
// temporary directory, the whole report and the whole video file compared byte for byte,
// and the directory listed afterwards to show what was (not) created.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

// The FIFO and the file locks that stand in the tool's way are made by the test itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick::testing {
namespace {

const std::string headerLine = "# Tessarwick build 2017.04.14";
const std::string noFileNameLine = "# Terminating due to no filename given";
const std::string illegalFileNameLine = "# Terminating due to illegal filename given";
const std::string tooSmallLine = "# Terminating due to file to small (maybe not an mpg-video file?)";
const std::string illegalParameterLine = "# Terminating due to illegal parameter(s) given";

TEST(RunControl, NoArgumentShowsTheUsageTextAndTouchesNothing) {
    const std::string usage =
        "Tessarwick build 2017.04.14\r\n"
        "changes video basics in mpg-video files\r\n"
        "patches video headers only, does no reencoding\r\n"
        ": /f=filename (mpg-video file)\r\n"
        ": /hs=horizontal size (px | multiple of 8)\r\n"
        ": /vs=vertical size (px | multiple of 8)\r\n"
        ": /ar=aspect ratio (1=1:1 2=4:3 3=16:9 4=2.21:1)\r\n"
        ": /fr=frame rate (1=23.976 2=24 3=25 4=29.97 5=30 6=50 7=59.94 8=60 fps)\r\n"
        ": /br=bit rate (bps | multiple of 400)\r\n"
        ": /vbv=vbv buffer size (2 kByte/unit)\r\n"
        ": /cp=constrained parameters (0=false 1=true)\r\n"
        ": /pr=profile (1=HP 2=SPT 3=SNR 4=MP 5=SP 8=Escape P@L, see level)\r\n"
        ": /lv=level (2=HPL 4=HL 6=H-14 8=ML 10=LL)\r\n"
        "   (Escape P@L: 2=422P@HL 5=422P@ML 10=MVP@HL 11=MVP@H-14 13=MVP@ML 14=MVP@LL)\r\n"
        ": /ps=progressiv sequence (0=false 1=true)\r\n"
        ": /cs=chroma subsampling (1=4:2:0 2=4:2:2 3=4:4:4)\r\n"
        ": /all (patch all headers instead of first header only)\r\n"
        ": /log (write logfile)\r\n"
        "example: Tessarwick /f=video.mpg /log\r\n"
        "         writes logfile only, nothing patched\r\n"
        "example: Tessarwick /f=video.mpg /ar=3 /br=9000000 /log\r\n"
        "         patches aspect ratio to 3 (16:9), bit rate to 9000000 bps, wrt. logf.\r\n"
        "example: Tessarwick /f=video.mpg /hs=720 /vs=576 /all\r\n"
        "         patches horizontal size to 720 px, vertical size to 576 px, all hdrs.\r\n";
    TempDir directory;

    const RunResult result = runTool({}, directory.path());

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.standardOutput, usage);
    EXPECT_EQ(reportLines(result.standardOutput).size(), 24u);
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(entriesOf(directory.path()), std::vector<std::string>{});
}

// A refused run: its status and the one report it leaves (`reportName` empty: none at
// all). Nothing else in the directory may appear, and a video file keeps its bytes.
struct RefusalCase {
    const char* name;
    std::vector<std::string> arguments;
    int expectedStatus;
    std::string reportName;
    std::vector<std::string> expectedReport;
};

void expectRefusal(const RefusalCase& c, const TempDir& directory,
                   const std::vector<std::string>& entriesBefore, const Bytes& videoBefore,
                   const RunResult& result) {
    const std::string context = std::string(c.name) + ": arguments " + joined(c.arguments);
    EXPECT_EQ(result.status, c.expectedStatus) << context;
    EXPECT_EQ(result.standardOutput, "") << context;
    EXPECT_EQ(result.standardError, "") << context;
    std::vector<std::string> expectedEntries = entriesBefore;
    if (!c.reportName.empty()) {
        if (std::find(expectedEntries.begin(), expectedEntries.end(), c.reportName) == expectedEntries.end())
            expectedEntries.push_back(c.reportName);
        std::sort(expectedEntries.begin(), expectedEntries.end());
        ASSERT_TRUE(fileExists(directory.file(c.reportName))) << context;
        EXPECT_EQ(textOf(directory.file(c.reportName)), reportText(c.expectedReport)) << context;
    }
    EXPECT_EQ(entriesOf(directory.path()), expectedEntries) << context;
    if (!videoBefore.empty()) {
        EXPECT_EQ(readFile(directory.file("clip.mpg")), videoBefore) << context;
    }
}

TEST(RunControl, WithoutAFileNameTheRunEndsWithStatus1) {
    const RefusalCase cases[] = {
        {"/log alone: the report lies in the current directory",
         {"/log"},
         1,
         "-Tessarwick.log",
         {headerLine, noFileNameLine}},
        {"/f= empty, with /log", {"/f=", "/log"}, 1, "-Tessarwick.log", {headerLine, noFileNameLine}},
        {"/f= empty, without /log: nothing stored", {"/f=", "/ar=3"}, 1, "", {}},
        {"a bare file name matches no option: nothing stored", {"clip.mpg"}, 1, "", {}},
        {"a bare file name and a malformed option", {"clip.mpg", "-f=clip.mpg", "/x=1", "/ar=3"}, 1, "", {}},
        {"one empty argument still starts a run", {""}, 1, "", {}},
        {"/logfile is /log", {"/logfile", "/ar=3"}, 1, "-Tessarwick.log", {headerLine, noFileNameLine}},
    };
    for (const RefusalCase& c : cases) {
        TempDir directory;
        const Bytes video = videoOfSize(12288);
        writeFile(directory.file("clip.mpg"), video);
        const std::vector<std::string> entriesBefore = entriesOf(directory.path());

        const RunResult result = runTool(c.arguments, directory.path());

        expectRefusal(c, directory, entriesBefore, video, result);
    }
}

TEST(RunControl, AVideoFileThatCannotBeOpenedEndsWithStatus2) {
    const std::vector<std::string> refused = {headerLine, "* File: clip.mpg", illegalFileNameLine};
    enum class Kind { missing, directory, fifo, readOnly0444, readOnly0400 };
    struct OpenCase {
        Kind kind;
        RefusalCase refusal;
    };
    const OpenCase cases[] = {
        {Kind::missing,
         {"a missing file, with /log", {"/f=clip.mpg", "/log"}, 2, "clip.mpg-Tessarwick.log", refused}},
        {Kind::missing, {"a missing file, without /log: nothing created", {"/f=clip.mpg"}, 2, "", {}}},
        {Kind::missing,
         {"a path whose directory does not exist, without /log", {"/f=nowhere/clip.mpg"}, 2, "", {}}},
        {Kind::directory, {"a directory", {"/f=clip.mpg", "/log"}, 2, "clip.mpg-Tessarwick.log", refused}},
        {Kind::fifo,
         {"a FIFO (must not hang)", {"/f=clip.mpg", "/log"}, 2, "clip.mpg-Tessarwick.log", refused}},
        // The tests run as root in CI, who could write such a file: the tool must still refuse.
        {Kind::readOnly0444,
         {"a file of mode 0444", {"/f=clip.mpg", "/ar=3", "/log"}, 2, "clip.mpg-Tessarwick.log", refused}},
        {Kind::readOnly0400,
         {"a file of mode 0400, even for a report-only run",
          {"/f=clip.mpg", "/log"},
          2,
          "clip.mpg-Tessarwick.log",
          refused}},
    };
    for (const OpenCase& c : cases) {
        TempDir directory;
        const std::string videoPath = directory.file("clip.mpg");
        Bytes video;
        switch (c.kind) {
            case Kind::missing:
                break;
            case Kind::directory:
                std::filesystem::create_directory(videoPath);
                break;
            case Kind::fifo:
                ASSERT_EQ(mkfifo(videoPath.c_str(), 0666), 0);
                break;
            case Kind::readOnly0444:
            case Kind::readOnly0400:
                video = videoOfSize(12288);
                writeFile(videoPath, video);
                std::filesystem::permissions(videoPath, c.kind == Kind::readOnly0444
                                                            ? std::filesystem::perms(0444)
                                                            : std::filesystem::perms(0400));
                break;
        }
        const std::vector<std::string> entriesBefore = entriesOf(directory.path());

        // A run that blocked on the FIFO would be killed and show status 124.
        std::vector<std::string> commandLine{"timeout", "20", TESSARWICK_BINARY};
        commandLine.insert(commandLine.end(), c.refusal.arguments.begin(), c.refusal.arguments.end());
        const RunResult result = runProgram(commandLine, directory.path());

        expectRefusal(c.refusal, directory, entriesBefore, video, result);
        if (!video.empty()) {
            EXPECT_EQ(std::filesystem::status(videoPath).permissions(),
                      std::filesystem::perms(c.kind == Kind::readOnly0444 ? 0444 : 0400))
                << c.refusal.name;
        }
    }
}

TEST(RunControl, ADeviceIsNotAVideoFile) {
    // Both devices open for reading and writing and measure 0 bytes: a tool that took them
    // for files would end with status 4 instead.
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        TempDir directory;
        const RunResult result = runTool({std::string("/f=") + device}, directory.path());
        EXPECT_EQ(result.status, 2) << device;
        EXPECT_EQ(result.standardOutput + result.standardError, "") << device;
        EXPECT_EQ(entriesOf(directory.path()), std::vector<std::string>{}) << device;
    }
}

// Another process (here: this test process, through a second open file description) holds
// a lock on the video file. The tool takes an fcntl write lock, which conflicts with any
// fcntl lock another holder has, OFD or POSIX record lock, read or write.
TEST(RunControl, AFileLockedByAnotherProcessIsRefusedUntilTheLockIsGone) {
    struct LockCase {
        const char* name;
        int command;
        short type;
    };
    const LockCase cases[] = {
        {"open-file-description write lock", F_OFD_SETLK, F_WRLCK},
        {"open-file-description read lock", F_OFD_SETLK, F_RDLCK},
        {"POSIX record write lock", F_SETLK, F_WRLCK},
        {"POSIX record read lock of a part of the file", F_SETLK, F_RDLCK},
    };
    for (const LockCase& c : cases) {
        TempDir directory;
        const std::string videoPath = directory.file("clip.mpg");
        const Bytes video = videoOfSize(12288);
        writeFile(videoPath, video);
        int holder = open(videoPath.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(holder, 0);
        struct flock lock {};
        lock.l_type = c.type;
        lock.l_whence = SEEK_SET;
        if (c.command == F_SETLK && c.type == F_RDLCK) {
            lock.l_start = 100;  // the bytes of the first block only
            lock.l_len = 4000;
        }
        ASSERT_EQ(fcntl(holder, c.command, &lock), 0) << c.name;

        const RunResult locked = runTool({"/f=clip.mpg", "/ar=3", "/log"}, directory.path());

        EXPECT_EQ(locked.status, 2) << c.name;
        EXPECT_EQ(locked.standardOutput + locked.standardError, "") << c.name;
        EXPECT_EQ(textOf(directory.file("clip.mpg-Tessarwick.log")),
                  reportText({headerLine, "* File: clip.mpg", illegalFileNameLine}))
            << c.name;
        EXPECT_EQ(readFile(videoPath), video) << c.name;

        // With the lock gone, the same run opens the file and patches it.
        close(holder);
        const RunResult unlocked = runTool({"/f=clip.mpg", "/ar=3", "/log"}, directory.path());
        EXPECT_EQ(unlocked.status, 0) << c.name;
        EXPECT_NE(readFile(videoPath), video) << c.name;
    }
}

TEST(RunControl, AFileOfFewerThanThreeBlocksEndsWithStatus4) {
    for (std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{8192}, std::size_t{12287}}) {
        TempDir directory;
        const Bytes video = videoOfSize(size);
        writeFile(directory.file("clip.mpg"), video);
        const RefusalCase c{"a file too small",
                            {"/f=clip.mpg", "/ar=3", "/log"},
                            4,
                            "clip.mpg-Tessarwick.log",
                            {headerLine, "* File: clip.mpg", tooSmallLine}};
        const std::vector<std::string> entriesBefore = entriesOf(directory.path());

        const RunResult result = runTool(c.arguments, directory.path());

        SCOPED_TRACE("file of " + std::to_string(size) + " bytes");
        expectRefusal(c, directory, entriesBefore, video, result);
    }
}

TEST(RunControl, AFileOfThreeBlocksPassesTheSizeGate) {
    for (std::size_t size : {std::size_t{12288}, std::size_t{12289}, std::size_t{16383}}) {
        TempDir directory;
        const Bytes video(size, 0x00);  // no sequence header: a report-only run
        writeFile(directory.file("clip.mpg"), video);

        const RunResult result = runTool({"/f=clip.mpg", "/log"}, directory.path());

        const std::string context = "file of " + std::to_string(size) + " bytes";
        EXPECT_EQ(result.status, 0) << context;
        EXPECT_EQ(result.standardOutput + result.standardError, "") << context;
        std::vector<std::string> lines = reportLines(textOf(directory.file("clip.mpg-Tessarwick.log")));
        ASSERT_FALSE(lines.empty()) << context;
        // The time taken is measured, so only its form is known.
        EXPECT_TRUE(std::regex_match(lines.back(), std::regex(R"(# time taken [0-9]+\.[0-9]{2} sec\.)")))
            << context << ": " << lines.back();
        lines.pop_back();
        const std::vector<std::string> expected = {
            headerLine,
            "* File: clip.mpg",
            "# Sequenceheader found 0, maybe not an mpg-video file?",
            "  horizontal size pat.  : 0",
            "  vertical size patched : 0",
            "  aspect ratio patched  : 0",
            "  frame rate patched    : 0",
            "  bit rate patched      : 0",
            "  vbv buffer size pat.  : 0",
            "  constrained param.pat.: 0",
            "# Sequence extension found 0, maybe not an mpg2-video file?",
            "  profile patched       : 0",
            "  level patched         : 0",
            "  progressive seq. pat. : 0",
            "  chroma subsampl. pat. : 0",
        };
        EXPECT_EQ(lines, expected) << context;
        EXPECT_EQ(readFile(directory.file("clip.mpg")), video) << context;
    }
}

TEST(RunControl, AReportThatCannotBeCreatedEndsWithStatus8AndNothingElse) {
    struct CreateCase {
        const char* name;
        std::vector<std::string> arguments;
        bool reportPlaceIsADirectory;
    };
    const CreateCase cases[] = {
        {"the video file's directory does not exist", {"/f=nowhere/clip.mpg", "/ar=3", "/log"}, false},
        {"a directory stands where the report would go", {"/f=clip.mpg", "/ar=3", "/log"}, true},
        {"the same with an illegal value, which is only checked later",
         {"/f=clip.mpg", "/ar=99", "/log"},
         true},
    };
    for (const CreateCase& c : cases) {
        TempDir directory;
        const Bytes video = videoOfSize(12288);
        writeFile(directory.file("clip.mpg"), video);
        if (c.reportPlaceIsADirectory)
            std::filesystem::create_directory(directory.file("clip.mpg-Tessarwick.log"));
        const std::vector<std::string> entriesBefore = entriesOf(directory.path());

        const RunResult result = runTool(c.arguments, directory.path());

        const std::string context = std::string(c.name) + ": arguments " + joined(c.arguments);
        EXPECT_EQ(result.status, 8) << context;
        EXPECT_EQ(result.standardOutput, "") << context;
        EXPECT_EQ(result.standardError, "") << context;
        EXPECT_EQ(entriesOf(directory.path()), entriesBefore) << context;
        EXPECT_EQ(readFile(directory.file("clip.mpg")), video) << context;
        if (c.reportPlaceIsADirectory) {
            EXPECT_EQ(entriesOf(directory.file("clip.mpg-Tessarwick.log")), std::vector<std::string>{})
                << context;
        }
    }
}

TEST(RunControl, AnExistingReportIsReplacedWhateverTheEnd) {
    struct ReplaceCase {
        const char* name;
        std::vector<std::string> arguments;
        std::size_t videoSize;  // 0: no video file
        int expectedStatus;
        std::string reportName;
        std::vector<std::string> expectedReport;
    };
    const ReplaceCase cases[] = {
        {"no file name", {"/log"}, 0, 1, "-Tessarwick.log", {headerLine, noFileNameLine}},
        {"missing file",
         {"/f=clip.mpg", "/log"},
         0,
         2,
         "clip.mpg-Tessarwick.log",
         {headerLine, "* File: clip.mpg", illegalFileNameLine}},
        {"file too small",
         {"/f=clip.mpg", "/log"},
         100,
         4,
         "clip.mpg-Tessarwick.log",
         {headerLine, "* File: clip.mpg", tooSmallLine}},
        {"illegal value",
         {"/f=clip.mpg", "/cs=4", "/log"},
         12288,
         16,
         "clip.mpg-Tessarwick.log",
         {headerLine, "* File: clip.mpg", "* Parameter given: /cs=4 (illegal due to > 3)",
          illegalParameterLine}},
    };
    // An old report longer than any new one, so a report written over it without
    // truncation would keep a tail of it.
    std::string oldReport;
    for (int i = 0; i < 40; ++i) oldReport += "old report line " + std::to_string(i) + "\r\n";
    for (const ReplaceCase& c : cases) {
        TempDir directory;
        Bytes video;
        if (c.videoSize != 0) {
            video = videoOfSize(c.videoSize);
            writeFile(directory.file("clip.mpg"), video);
        }
        writeText(directory.file(c.reportName), oldReport);

        const RunResult result = runTool(c.arguments, directory.path());

        const std::string context = std::string(c.name) + ": arguments " + joined(c.arguments);
        EXPECT_EQ(result.status, c.expectedStatus) << context;
        EXPECT_EQ(textOf(directory.file(c.reportName)), reportText(c.expectedReport)) << context;
        if (!video.empty()) {
            EXPECT_EQ(readFile(directory.file("clip.mpg")), video) << context;
        }
    }
}

// The report's name is the file name and "-Tessarwick.log", cut to 255 characters. An
// argument is cut to 255 characters first, so a file name has at most 252.
TEST(RunControl, TheReportNameIsCutTo255Characters) {
    struct NameCase {
        std::size_t typedLength;  // characters after "/f="
        std::size_t storedLength;
        std::string keptSuffix;
    };
    const NameCase cases[] = {
        {239, 239, "-Tessarwick.log"},
        {240, 240, "-Tessarwick.log"},
        {241, 241, "-Tessarwick.lo"},
        {245, 245, "-Tessarwic"},
        {252, 252, "-Te"},
        {253, 252, "-Te"},
        {300, 252, "-Te"},
    };
    for (const NameCase& c : cases) {
        TempDir directory;
        const std::string typed(c.typedLength, 'v');
        const std::string stored(c.storedLength, 'v');
        const std::string reportName = stored + c.keptSuffix;

        const RunResult result = runTool({"/log", "/f=" + typed}, directory.path());

        const std::string context = "file name of " + std::to_string(c.typedLength) + " characters";
        EXPECT_EQ(result.status, 2) << context;
        EXPECT_EQ(entriesOf(directory.path()), std::vector<std::string>{reportName}) << context;
        if (fileExists(directory.file(reportName))) {
            EXPECT_EQ(textOf(directory.file(reportName)),
                      reportText({headerLine, "* File: " + stored, illegalFileNameLine}))
                << context;
        }
    }
}

}  // namespace
}  // namespace tessarwick::testing
