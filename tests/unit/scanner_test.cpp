// The scanner run in-process: reading a block at a time and reading many blocks at a time
// must be indistinguishable, and a scan allocates nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "report/report_sink.h"
#include "scan/scan_window.h"
#include "support/test_files.h"
#include "unit/allocation_counter.h"

namespace tessarwick::testing {
namespace {

struct ScanOutcome {
    std::string report;
    Bytes file;
    RunCounters counters;
    uint64_t fileSizeBytes = 0;
    std::size_t allocations = 0;
};

// Scans a copy of `input` as a run would. `claimedSize` stands for the size measured at the
// start of the run; a smaller file then behaves like one that shrank during the run.
ScanOutcome scanInProcess(const Bytes& input, const PatchRequest& request, std::size_t blocksPerRead,
                          uint64_t claimedSize = 0) {
    TempDir dir;
    std::string path = dir.file("clip.mpg");
    writeFile(path, input);
    ScanOutcome outcome;
    ReportSink report;
    EXPECT_TRUE(openReportSink(report, true, path));
    platform::FileHandle file;
    EXPECT_TRUE(platform::openVideoFile(path, file));
    uint64_t startSize = claimedSize != 0 ? claimedSize : platform::fileSizeBytes(file);
    ScanRun run{request, report, outcome.counters};
    std::size_t before = allocationsSoFar();
    outcome.fileSizeBytes = scanVideoFile(file, startSize, run, blocksPerRead);
    outcome.allocations = allocationsSoFar() - before;
    closeReportSink(report);
    Bytes reportBytes = readFile(path + "-Tessarwick.log");
    outcome.report.assign(reportBytes.begin(), reportBytes.end());
    outcome.file = readFile(path);
    return outcome;
}

// Deterministic noise with MPEG-1 and MPEG-2 headers at chosen offsets, some of them right
// at the edges of 4 KiB blocks and of 1 MiB reads.
Bytes noisyStream(std::size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t state = seed;
    for (uint8_t& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state);
    }
    const std::size_t mebibyte = 1 << 20;
    std::vector<std::size_t> starts{0,
                                    4090,
                                    4095,
                                    8190,
                                    50000,
                                    mebibyte - 4096 - 6,
                                    mebibyte - 4095,
                                    mebibyte - 3,
                                    mebibyte + 1,
                                    2 * mebibyte - 4096 + 4090};
    for (std::size_t offset = 70000; offset + 64 < size; offset += 37123) starts.push_back(offset);
    starts.push_back(size - 30);
    bool mpeg2 = false;
    for (std::size_t start : starts) {
        if (start + 32 > size) continue;
        HeaderSpec header;
        header.aspectRatio = static_cast<uint8_t>(1 + start % 4);
        if (mpeg2) {
            ExtensionSpec extension;
            extension.bitRateExtension = static_cast<uint16_t>(start % 7);
            putMpeg2Header(bytes, start, header, extension);
        } else {
            putMpeg1Header(bytes, start, header);
        }
        mpeg2 = !mpeg2;
    }
    bytes.resize(size);
    return bytes;
}

struct DifferentialCase {
    const char* name;
    std::size_t size;
    bool patchAll;
    uint8_t aspectRatio;
    uint8_t profile;
};

class ReadSizes : public ::testing::TestWithParam<DifferentialCase> {};

void PrintTo(const DifferentialCase& c, std::ostream* out) { *out << c.name; }

TEST_P(ReadSizes, BlockAtATimeAndChunkedReadingGiveTheSameReportAndFile) {
    const DifferentialCase& c = GetParam();
    Bytes input = noisyStream(c.size, static_cast<uint32_t>(c.size));
    PatchRequest request;
    request.patchAll = c.patchAll;
    request.aspectRatio = c.aspectRatio;
    request.profile = c.profile;
    ScanOutcome blockwise = scanInProcess(input, request, 1);
    ASSERT_GT(blockwise.counters.headersFound, 0) << c.name;
    for (std::size_t blocksPerRead : {2u, 7u, 255u, 256u}) {
        ScanOutcome chunked = scanInProcess(input, request, blocksPerRead);
        EXPECT_EQ(chunked.report, blockwise.report) << c.name << ", " << blocksPerRead << " blocks per read";
        EXPECT_EQ(differingOffsets(chunked.file, blockwise.file), std::vector<std::size_t>{})
            << c.name << ", " << blocksPerRead << " blocks per read";
        EXPECT_EQ(chunked.fileSizeBytes, c.size);
    }
}

INSTANTIATE_TEST_SUITE_P(Scanner, ReadSizes,
                         ::testing::Values(DifferentialCase{"report only, all", 3 * (1 << 20) + 100, true, 0,
                                                            0},
                                           DifferentialCase{"patching, all", 3 * (1 << 20) + 100, true, 3, 5},
                                           DifferentialCase{"whole MiBs, all", 2 * (1 << 20), true, 1, 0},
                                           DifferentialCase{"patching, first only", 1 << 20, false, 3, 0}));

TEST(Scanner, AllocatesNothingPerBlockOrPerHeader) {
    Bytes input = noisyStream(3 * (1 << 20) + 100, 7);
    PatchRequest request;
    request.patchAll = true;
    request.aspectRatio = 3;
    request.horizontalSize = 704;
    request.level = 4;
    ScanOutcome outcome = scanInProcess(input, request, defaultBlocksPerRead);
    ASSERT_GT(outcome.counters.headersPatched, 50);
    EXPECT_EQ(outcome.allocations, 0u);
}

// A file shorter than measured at the start is a file that shrank during the run: the
// windows before the block that came up short are handled and written, then the run ends
// with status 100, the same for every read size.
TEST(ScannerDeathTest, AFileThatShrankEndsWithAShortReadAfterTheBlocksBeforeIt) {
    Bytes input(6 * 4096 + 500, 0xFF);
    putMpeg1Header(input, 100);
    putMpeg1Header(input, 3 * 4096 + 10);
    putMpeg1Header(input, 5 * 4096 + 10);  // never reached: its look-ahead block came up short
    for (std::size_t blocksPerRead : {1u, 256u}) {
        TempDir dir;
        std::string path = dir.file("clip.mpg");
        writeFile(path, input);
        PatchRequest request;
        request.patchAll = true;
        request.aspectRatio = 3;
        auto scanAsARunWould = [&] {
            ReportSink report;
            openReportSink(report, false, path);
            platform::FileHandle file;
            if (!platform::openVideoFile(path, file)) std::_Exit(1);
            RunCounters counters;
            ScanRun run{request, report, counters};
            scanVideoFile(file, 8 * 4096, run, blocksPerRead);
            std::_Exit(0);
        };
        EXPECT_EXIT(scanAsARunWould(), ::testing::ExitedWithCode(100), "Runtime error 100 at 0x")
            << blocksPerRead << " blocks per read";
        Bytes after = readFile(path);
        EXPECT_EQ(differingOffsets(input, after), (std::vector<std::size_t>{107, 3 * 4096 + 17}))
            << blocksPerRead << " blocks per read";
    }
}

}  // namespace
}  // namespace tessarwick::testing
