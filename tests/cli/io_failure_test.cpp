// Real I/O failures after the openings: a report that cannot be written out (a link to
// /dev/full), standard output on /dev/full, and failing read, pwrite and close calls
// injected into the C library with libfiu's fiu-run. Each ends the process at once with
// the failure's number as status and a diagnostic on standard error, and nothing that
// comes after the failure happens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick::testing {
namespace {

// "Runtime error <status> at 0x<address>", at least one line of the stack trace, and an
// empty line. The addresses themselves differ from build to build.
bool isRunTimeErrorDiagnostic(const std::string& text, int status) {
    const std::regex form("Runtime error " + std::to_string(status) + " at 0x[0-9A-Fa-f]+\n(.+\n)+\n");
    return std::regex_match(text, form);
}

// Every way a run can end writes the report out at the latest when it closes it; with the
// report name linked to /dev/full that write fails, and the run ends with status 101
// instead of its own. The file line and the echo fill less than the report's 256-byte
// buffer, so the first write-out comes at the end of a refused run, and in the middle of
// the header's field lines for a run that would patch: before the patch is written back.
TEST(IoFailure, AReportOnAFullDiskEndsTheRunWith101) {
    struct FullDiskCase {
        const char* name;
        std::vector<std::string> arguments;
        std::size_t videoSize;  // 0: no video file
        int statusOnAnEmptyDisk;
        std::string reportName;
    };
    const FullDiskCase cases[] = {
        {"no file name", {"/log"}, 0, 1, "-Tessarwick.log"},
        {"missing file", {"/f=clip.mpg", "/log"}, 0, 2, "clip.mpg-Tessarwick.log"},
        {"file too small", {"/f=clip.mpg", "/ar=3", "/log"}, 100, 4, "clip.mpg-Tessarwick.log"},
        {"illegal value", {"/f=clip.mpg", "/ar=16", "/log"}, 12288, 16, "clip.mpg-Tessarwick.log"},
        {"a run that would patch", {"/f=clip.mpg", "/ar=3", "/log"}, 12288, 0, "clip.mpg-Tessarwick.log"},
        {"a report-only run", {"/f=clip.mpg", "/log"}, 12288, 0, "clip.mpg-Tessarwick.log"},
    };
    for (const FullDiskCase& c : cases) {
        const std::string context = std::string(c.name) + ": arguments " + joined(c.arguments);
        // The same run with room for its report ends with its own status.
        {
            TempDir directory;
            if (c.videoSize != 0) writeFile(directory.file("clip.mpg"), videoOfSize(c.videoSize));
            EXPECT_EQ(runTool(c.arguments, directory.path()).status, c.statusOnAnEmptyDisk) << context;
        }
        TempDir directory;
        Bytes video;
        if (c.videoSize != 0) {
            video = videoOfSize(c.videoSize);
            writeFile(directory.file("clip.mpg"), video);
        }
        std::filesystem::create_symlink("/dev/full", directory.file(c.reportName));
        const std::vector<std::string> entriesBefore = entriesOf(directory.path());

        const RunResult result = runTool(c.arguments, directory.path());

        EXPECT_EQ(result.status, 101) << context;
        EXPECT_EQ(result.standardOutput, "") << context;
        EXPECT_TRUE(isRunTimeErrorDiagnostic(result.standardError, 101)) << context << "\n"
                                                                         << result.standardError;
        EXPECT_EQ(entriesOf(directory.path()), entriesBefore) << context;
        EXPECT_TRUE(std::filesystem::is_symlink(directory.file(c.reportName))) << context;
        if (!video.empty()) {
            EXPECT_EQ(readFile(directory.file("clip.mpg")), video) << context;
        }
    }
}

TEST(IoFailure, AUsageTextThatCannotBeWrittenEndsWith101) {
    TempDir directory;

    const RunResult result =
        runProgram({"sh", "-c", "exec \"$0\" > /dev/full", TESSARWICK_BINARY}, directory.path());

    EXPECT_EQ(result.status, 101);
    EXPECT_TRUE(isRunTimeErrorDiagnostic(result.standardError, 101)) << result.standardError;
    EXPECT_EQ(entriesOf(directory.path()), std::vector<std::string>{});
}

// fiu-run preloads a library that wraps the C library's functions; a wrapped call whose
// failure point is enabled returns -1 with errno set to `failinfo`, without doing anything.
bool fiuAvailable() { return programAvailable("fiu-run"); }

// The shared AddressSanitizer runtime this test program runs with ("" in a normal build).
// The tool is built the same way.
std::string sharedSanitizerRuntime() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::size_t path = line.find('/');
        if (path != std::string::npos && line.find("/libasan.so", path) != std::string::npos)
            return line.substr(path);
    }
    return "";
}

// The libraries fiu-run preloads, as its dry run (-n) shows them.
std::string fiuPreloadLibraries() {
    const RunResult dryRun = runProgram({"fiu-run", "-x", "-n", "-f", "", "true"}, "/");
    const std::string key = "LD_PRELOAD=\"";
    std::size_t start = dryRun.standardOutput.find(key);
    if (start == std::string::npos) return "";
    start += key.size();
    return dryRun.standardOutput.substr(start, dryRun.standardOutput.find('"', start) - start);
}

RunResult runWithFailingCall(const std::string& failurePoint, int error,
                             const std::vector<std::string>& arguments, const std::string& workingDirectory) {
    const std::string enable = "enable name=" + failurePoint + ",failinfo=" + std::to_string(error);
    std::vector<std::string> commandLine;
    const std::string sanitizerRuntime = sharedSanitizerRuntime();
    if (sanitizerRuntime.empty()) {
        // -f "": no remote-control FIFOs in the temporary directory.
        commandLine = {"fiu-run", "-x", "-f", "", "-c", enable, TESSARWICK_BINARY};
    } else {
        // A sanitizer runtime that is not the first library loaded crashes among fiu's
        // wrappers; so set up what fiu-run would, with the runtime in front.
        commandLine = {"env", "FIU_ENABLE=" + enable,
                       "FIU_CTRL_FIFO=", "LD_PRELOAD=" + sanitizerRuntime + " " + fiuPreloadLibraries(),
                       TESSARWICK_BINARY};
    }
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    return runProgram(commandLine, workingDirectory);
}

struct ErrorCase {
    const char* errorName;
    int error;
    int expectedStatus;
};

// The first read of the video file fails. Until then the report holds the header line,
// the file line and the echo, all still in its buffer: the report file stays empty, and
// the file is neither patched nor closed by the program.
TEST(IoFailure, AFailingReadEndsTheRunWithTheErrorsStatus) {
    if (!fiuAvailable()) GTEST_SKIP() << "fiu-run (Debian package fiu-utils) is not installed";
    const ErrorCase cases[] = {
        {"EIO", EIO, 161},
        {"EINVAL", EINVAL, 87},
        {"EBADF", EBADF, 6},
        {"ENOMEM", ENOMEM, 8},
        {"EACCES", EACCES, 5},
        {"EAGAIN", EAGAIN, 5},
        {"ENXIO", ENXIO, 152},
        {"ENODEV", ENODEV, 152},
        {"EISDIR (any other)", EISDIR, 162},
        {"EINTR (any other)", EINTR, 162},
    };
    for (const ErrorCase& c : cases) {
        TempDir directory;
        const Bytes video = videoOfSize(12288);
        writeFile(directory.file("clip.mpg"), video);

        const RunResult result = runWithFailingCall("posix/io/rw/read", c.error,
                                                    {"/f=clip.mpg", "/ar=3", "/log"}, directory.path());

        EXPECT_EQ(result.status, c.expectedStatus) << "read fails with " << c.errorName << "\n"
                                                   << result.standardError;
        EXPECT_EQ(result.standardOutput, "") << c.errorName;
        EXPECT_TRUE(isRunTimeErrorDiagnostic(result.standardError, c.expectedStatus)) << c.errorName << "\n"
                                                                                      << result.standardError;
        EXPECT_EQ(textOf(directory.file("clip.mpg-Tessarwick.log")), "") << c.errorName;
        EXPECT_EQ(readFile(directory.file("clip.mpg")), video) << c.errorName;
        EXPECT_EQ(entriesOf(directory.path()),
                  (std::vector<std::string>{"clip.mpg", "clip.mpg-Tessarwick.log"}))
            << c.errorName;
    }
}

// The write-back of the patched window fails. The report holds exactly the 256-byte
// pieces that were full before the write-back, that is before the summary began; the
// file keeps its old bytes.
TEST(IoFailure, AFailingWriteBackEndsTheRunWithTheErrorsStatus) {
    if (!fiuAvailable()) GTEST_SKIP() << "fiu-run (Debian package fiu-utils) is not installed";
    const std::vector<std::string> arguments{"/f=clip.mpg", "/ar=3", "/log"};
    const Bytes video = videoOfSize(12288);
    std::string fullReport;
    {
        TempDir directory;
        writeFile(directory.file("clip.mpg"), video);
        ASSERT_EQ(runTool(arguments, directory.path()).status, 0);
        ASSERT_NE(readFile(directory.file("clip.mpg")), video) << "the run without a failure must patch";
        fullReport = textOf(directory.file("clip.mpg-Tessarwick.log"));
    }
    const std::size_t summaryStart = fullReport.find("# Sequenceheader found ");
    ASSERT_NE(summaryStart, std::string::npos) << fullReport;
    const std::string reportBeforeWriteBack = fullReport.substr(0, summaryStart / 256 * 256);

    const ErrorCase cases[] = {
        {"EIO", EIO, 160},     {"ENOSPC", ENOSPC, 101}, {"EDQUOT", EDQUOT, 101}, {"EFBIG", EFBIG, 101},
        {"EROFS", EROFS, 150}, {"ESPIPE", ESPIPE, 156}, {"EPERM", EPERM, 5},     {"EINVAL", EINVAL, 87},
    };
    for (const ErrorCase& c : cases) {
        TempDir directory;
        writeFile(directory.file("clip.mpg"), video);

        const RunResult result =
            runWithFailingCall("posix/io/rw/pwrite", c.error, arguments, directory.path());

        EXPECT_EQ(result.status, c.expectedStatus) << "pwrite fails with " << c.errorName << "\n"
                                                   << result.standardError;
        EXPECT_TRUE(isRunTimeErrorDiagnostic(result.standardError, c.expectedStatus)) << c.errorName << "\n"
                                                                                      << result.standardError;
        EXPECT_EQ(textOf(directory.file("clip.mpg-Tessarwick.log")), reportBeforeWriteBack) << c.errorName;
        EXPECT_EQ(readFile(directory.file("clip.mpg")), video) << c.errorName;
    }
}

// A failing close of the video file: it is closed before the report is written out, so
// the report file stays empty (a report closed first would be complete, and the failing
// close of the report would give 101).
TEST(IoFailure, AFailingCloseOfTheVideoFileEndsTheRunBeforeTheReportGoesOut) {
    if (!fiuAvailable()) GTEST_SKIP() << "fiu-run (Debian package fiu-utils) is not installed";
    struct CloseCase {
        const char* name;
        std::size_t videoSize;
    };
    const CloseCase cases[] = {
        {"file too small: closed before the termination line", 12287},
        {"report-only run: closed by the scan, before the summary", 12288},
    };
    for (const CloseCase& c : cases) {
        TempDir directory;
        const Bytes video(c.videoSize, 0x00);
        writeFile(directory.file("clip.mpg"), video);

        const RunResult result =
            runWithFailingCall("posix/io/oc/close", EIO, {"/f=clip.mpg", "/log"}, directory.path());

        EXPECT_EQ(result.status, 162) << c.name << "\n" << result.standardError;
        EXPECT_TRUE(isRunTimeErrorDiagnostic(result.standardError, 162)) << c.name << "\n"
                                                                         << result.standardError;
        EXPECT_EQ(textOf(directory.file("clip.mpg-Tessarwick.log")), "") << c.name;
        EXPECT_EQ(readFile(directory.file("clip.mpg")), video) << c.name;
    }
}

}  // namespace
}  // namespace tessarwick::testing
