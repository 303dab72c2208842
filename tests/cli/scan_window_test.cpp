// Which bytes of a file the scan examines, and how a changed window is written back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick::testing {
namespace {

// The file offsets (of header byte 4) that the report names as found headers.
std::vector<uint64_t> foundHeaderOffsets(const std::string& report) {
    const std::string prefix = "+ Sequenceheader found at ";
    std::vector<uint64_t> offsets;
    for (const std::string& line : reportLines(report))
        if (line.rfind(prefix, 0) == 0) offsets.push_back(std::stoull(line.substr(prefix.size())));
    return offsets;
}

struct ScanRunResult {
    int status;
    std::vector<uint64_t> found;
    Bytes after;
};

ScanRunResult scan(const Bytes& file, std::vector<std::string> options) {
    TempDir dir;
    writeFile(dir.file("clip.mpg"), file);
    options.insert(options.begin(), "/f=clip.mpg");
    options.push_back("/log");
    RunResult run = runTool(options, dir.path());
    Bytes report = readFile(dir.file("clip.mpg-Tessarwick.log"));
    return {run.status, foundHeaderOffsets(std::string(report.begin(), report.end())),
            readFile(dir.file("clip.mpg"))};
}

// A file of `size` bytes of 0xFF with an MPEG-1 header at each of `headerStarts`.
Bytes fileWithHeaders(std::size_t size, const std::vector<std::size_t>& headerStarts) {
    Bytes bytes(size, 0xFF);
    for (std::size_t start : headerStarts) putMpeg1Header(bytes, start);
    bytes.resize(size);
    return bytes;
}

struct WindowCase {
    const char* name;
    std::size_t fileSize;
    std::vector<std::size_t> headerStarts;
    bool all;
    std::vector<uint64_t> expectedFound;  // offsets of header byte 4
};

class WindowCases : public ::testing::TestWithParam<WindowCase> {};

void PrintTo(const WindowCase& c, std::ostream* out) { *out << c.name; }

TEST_P(WindowCases, FindsExactlyTheHeadersInTheScannedBlocks) {
    const WindowCase& c = GetParam();
    Bytes original = fileWithHeaders(c.fileSize, c.headerStarts);
    ScanRunResult result =
        scan(original, c.all ? std::vector<std::string>{"/all"} : std::vector<std::string>{});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.found, c.expectedFound) << c.name;
    EXPECT_EQ(result.after, original) << "a report-only run changed the file";
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, WindowCases,
    ::testing::Values(
        // Without /all only block 0 is searched; the look-ahead block is read but not searched.
        WindowCase{"three blocks, first only", 12288, {100, 5000, 9000}, false, {104}},
        WindowCase{"three blocks, all", 12288, {100, 5000, 9000}, true, {104, 5004, 9004}},
        WindowCase{"tail of 100 bytes, first only", 12388, {12300}, false, {}},
        WindowCase{"tail of 100 bytes, all", 12388, {8000, 12300}, true, {8004, 12304}},
        WindowCase{"header in the last whole block, all", 12288, {12200}, true, {12204}},
        WindowCase{
            "ten blocks, all", 40960, {0, 16000, 32768, 36864, 40900}, true, {4, 16004, 32772, 36868, 40904}},
        WindowCase{"nothing in block 0 means nothing found", 40960, {4096, 20000}, false, {}},
        WindowCase{"two headers in block 0, first only", 12288, {10, 500}, false, {14}},
        WindowCase{"start code from offset 4090", 12288, {4090}, false, {4094}},
        WindowCase{"start code from offset 4095", 12288, {4095}, false, {4099}},
        WindowCase{"start code from offset 4096 is the next window's", 12288, {4096}, false, {}},
        // The skip after the header at 4090 ends with its window: the start code 11 bytes on,
        // at file offset 4101, is examined in the next window, which starts at its own offset 0.
        WindowCase{"after 4090 the next window starts at its own offset 0",
                   16384,
                   {4090, 4101, 8192},
                   true,
                   {4094, 4105, 8196}},
        WindowCase{"two headers 12 bytes apart", 12288, {200, 212}, true, {204, 216}},
        WindowCase{"header and next start code ending exactly at the end of the file",
                   12304,
                   {12288},
                   true,
                   {12292}}));

// A second 00 00 01 B3 that begins 1 to 11 bytes after an accepted header's first byte is
// not examined. Only at byte 11 can it leave the first header acceptable: that header is
// then cut by another start code, as by a DVD pack header, and its byte 11 is not patched.
TEST(Scanner, SkipsTheRestOfAnAcceptedHeader) {
    Bytes bytes(12288, 0xFF);
    putSequenceHeader(bytes, 300);
    putMpeg1Header(bytes, 311);
    ScanRunResult result = scan(bytes, {"/all", "/ar=3", "/vbv=100", "/cp=1"});
    EXPECT_EQ(result.found, (std::vector<uint64_t>{304}));
    Bytes expected = bytes;
    expected[307] = 0x33;  // aspect ratio only
    EXPECT_EQ(differingOffsets(expected, result.after), std::vector<std::size_t>{});

    // The second header is acceptable on its own: with the first one's marker bit cleared,
    // the scan goes on at the next position and finds it.
    bytes[310] &= static_cast<uint8_t>(~0x20);
    EXPECT_EQ(scan(bytes, {"/all"}).found, (std::vector<uint64_t>{315}));
}

TEST(Scanner, ACandidateBeginsAtTheLastTwoZerosBeforeTheOne) {
    Bytes bytes(12288, 0xFF);
    putMpeg1Header(bytes, 1001);
    bytes[1000] = 0x00;  // 00 00 00 01 B3 from offset 1000
    ScanRunResult result = scan(bytes, {});
    EXPECT_EQ(result.found, (std::vector<uint64_t>{1005}));
}

TEST(Scanner, PatchedBytesOfAHeaderStraddlingTheHalvesReachTheFileAndTheNextWindow) {
    // Header bytes 0..11 from offset 4090: the aspect ratio (byte 7) lies in block 1.
    Bytes original(16384, 0xFF);
    putMpeg1Header(original, 4090);
    putMpeg1Header(original, 8000);
    ScanRunResult result = scan(original, {"/all", "/ar=3"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.found, (std::vector<uint64_t>{4094, 8004}));
    Bytes expected = original;
    expected[4090 + 7] = static_cast<uint8_t>((expected[4090 + 7] & 0x0F) | 0x30);
    expected[8000 + 7] = static_cast<uint8_t>((expected[8000 + 7] & 0x0F) | 0x30);
    EXPECT_EQ(differingOffsets(expected, result.after), std::vector<std::size_t>{});
}

TEST(Scanner, AWindowWithNothingToChangeIsNeverWritten) {
    TempDir dir;
    Bytes bytes(40960, 0x11);
    putMpeg1Header(bytes, 0);  // aspect ratio 2 already
    putMpeg1Header(bytes, 20000);
    writeFile(dir.file("clip.mpg"), bytes);
    // An old modification time survives only if nothing at all is written.
    timespec old[2] = {{946684800, 0}, {946684800, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, dir.file("clip.mpg").c_str(), old, 0), 0);
    RunResult run = runTool({"/f=clip.mpg", "/all", "/ar=2"}, dir.path());
    ASSERT_EQ(run.status, 0);
    struct stat status {};
    ASSERT_EQ(stat(dir.file("clip.mpg").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 946684800) << "the file was written";

    run = runTool({"/f=clip.mpg", "/all", "/ar=3"}, dir.path());
    ASSERT_EQ(stat(dir.file("clip.mpg").c_str(), &status), 0);
    EXPECT_NE(status.st_mtim.tv_sec, 946684800) << "a changed header was not written";
}

TEST(Scanner, WritingBackTheLastWindowNeverGrowsTheFile) {
    Bytes original(12388, 0xFF);
    putMpeg1Header(original, 12340);
    ScanRunResult result = scan(original, {"/all", "/ar=3", "/fr=4"});
    ASSERT_EQ(result.found, (std::vector<uint64_t>{12344}));
    ASSERT_EQ(result.after.size(), original.size());
    EXPECT_EQ(differingOffsets(original, result.after), (std::vector<std::size_t>{12347}));
    EXPECT_EQ(result.after[12347], 0x34);
}

// A header past 4 GiB: offsets, positions and the write-back all need 64 bits. The file is
// sparse, so it costs no disk space, only the time to read 4 GiB of zeros.
TEST(Scanner, AHeaderPast4GiBIsReportedAndPatchedAtItsOwnOffset) {
    TempDir dir;
    const std::string path = dir.file("big.mpg");
    const uint64_t headerStart = 1ull << 32;
    Bytes header;
    putMpeg2Header(header, 0);
    int fd = open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(headerStart + 8192)), 0);
    ASSERT_EQ(pwrite(fd, header.data(), header.size(), static_cast<off_t>(headerStart)),
              static_cast<ssize_t>(header.size()));
    close(fd);

    RunResult run = runTool({"/f=big.mpg", "/all", "/ar=3", "/log"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.standardError;
    std::string report = textOf(dir.file("big.mpg-Tessarwick.log"));
    EXPECT_NE(report.find("+ Sequenceheader found at 4294967300 (100000004h)\r\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find("+ Sequence extension found at 4294967312 (100000010h)\r\n"), std::string::npos);
    EXPECT_NE(report.find(", data read 4096.0 MB ("), std::string::npos) << report;

    fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    uint8_t aspectAndFrameRate = 0;
    ASSERT_EQ(pread(fd, &aspectAndFrameRate, 1, static_cast<off_t>(headerStart + 7)), 1);
    struct stat status {};
    fstat(fd, &status);
    close(fd);
    EXPECT_EQ(aspectAndFrameRate, 0x33);
    EXPECT_EQ(static_cast<uint64_t>(status.st_size), headerStart + 8192);
}

}  // namespace
}  // namespace tessarwick::testing
