// How fast the /all scan walks a file, for each kind of data that could slow it down:
// data like a real recording, random bytes, a run of 00 bytes (a 00 pair at every
// position), a run of B3 bytes, and 00 00 01 B3 at every fourth byte (a candidate every
// four bytes, each rejected because its marker bit is 0). Each file is written once per
// process into a temporary folder and then scanned again and again from the page cache,
// so the figures show the scanner and the read calls, not the disk.
//
//   build/release/bench/tessarwick_scan_benchmark [--benchmark_filter=zeros]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "report/report_sink.h"
#include "run/patch_request.h"
#include "scan/run_counters.h"
#include "scan/scan_window.h"

namespace {

using tessarwick::PatchRequest;

constexpr std::size_t fileBytes = std::size_t{256} << 20;
constexpr std::size_t chunkBytes = std::size_t{1} << 20;

enum class DataKind { realLooking, random, zeros, sequenceHeaderBytes, startCodes, kindCount };

const char* const fileNames[] = {"real.mpg", "random.bin", "zeros.bin", "b3.bin", "start_codes.bin"};

// A 720 x 576, 25 fps, 4:3 MPEG-2 sequence header (9.8 Mbit/s, vbv 112), its sequence
// extension (Main profile at Main level, 4:2:0) and the group-of-pictures start code after
// it, as an encoder writes them.
constexpr uint8_t mpeg2Header[] = {
    0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x23, 0x17, 0xED, 0x23, 0x80,  // sequence_header
    0x00, 0x00, 0x01, 0xB5, 0x14, 0x82, 0x00, 0x01, 0x00, 0x00,              // sequence_extension
    0x00, 0x00, 0x01, 0xB8};                                                 // group_start_code
// A DVD program stream has a pack header (pack_start_code 00 00 01 BA) every 2048 bytes
// and a sequence header at every group of pictures, a few hundred KB apart.
constexpr std::size_t packBytes = 2048;
constexpr std::size_t headerDistance = 300007;
constexpr uint8_t packStartCode[] = {0x00, 0x00, 0x01, 0xBA};

std::filesystem::path dataFolder;
bool dataWritten[static_cast<int>(DataKind::kindCount)] = {};

// Copies `pattern`, meant to start at file offset `start`, into the chunk that begins at
// file offset `chunkStart`, as far as the two overlap.
void placePattern(std::vector<uint8_t>& chunk, std::size_t chunkStart, std::size_t start,
                  const uint8_t* pattern, std::size_t patternBytes) {
    for (std::size_t i = 0; i < patternBytes; ++i) {
        std::size_t offset = start + i;
        if (offset >= chunkStart && offset < chunkStart + chunk.size())
            chunk[offset - chunkStart] = pattern[i];
    }
}

void fillChunk(DataKind kind, std::vector<uint8_t>& chunk, std::size_t chunkStart, uint64_t& noise) {
    switch (kind) {
        case DataKind::zeros:
            std::fill(chunk.begin(), chunk.end(), uint8_t{0x00});
            return;
        case DataKind::sequenceHeaderBytes:
            std::fill(chunk.begin(), chunk.end(), uint8_t{0xB3});
            return;
        case DataKind::startCodes:
            // The pattern repeats every 4 bytes, so header byte 10 is 01 and its marker bit
            // (bit 5) is 0: every position with 00 00 01 B3 is a candidate and is rejected.
            for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = mpeg2Header[(chunkStart + i) % 4];
            return;
        case DataKind::random:
        case DataKind::realLooking:
        case DataKind::kindCount:
            break;
    }
    // xorshift64: fast, and the same bytes on every machine.
    for (std::size_t i = 0; i < chunk.size(); i += 8) {
        noise ^= noise << 13;
        noise ^= noise >> 7;
        noise ^= noise << 17;
        for (std::size_t b = 0; b < 8; ++b) chunk[i + b] = static_cast<uint8_t>(noise >> (8 * b));
    }
    if (kind != DataKind::realLooking) return;
    for (std::size_t pack = chunkStart / packBytes * packBytes; pack < chunkStart + chunk.size();
         pack += packBytes)
        placePattern(chunk, chunkStart, pack, packStartCode, sizeof packStartCode);
    std::size_t first = chunkStart / headerDistance * headerDistance;
    for (std::size_t header = first; header < chunkStart + chunk.size(); header += headerDistance)
        placePattern(chunk, chunkStart, header, mpeg2Header, sizeof mpeg2Header);
}

// The file of `kind`, written on first use.
std::string dataFile(DataKind kind) {
    std::filesystem::path path = dataFolder / fileNames[static_cast<int>(kind)];
    if (dataWritten[static_cast<int>(kind)]) return path.string();
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (file == nullptr) return {};
    std::vector<uint8_t> chunk(chunkBytes);
    uint64_t noise = 0x9E3779B97F4A7C15ull;
    bool written = true;
    for (std::size_t start = 0; start < fileBytes && written; start += chunkBytes) {
        fillChunk(kind, chunk, start, noise);
        written = std::fwrite(chunk.data(), 1, chunk.size(), file) == chunk.size();
    }
    written = std::fclose(file) == 0 && written;
    if (!written) return {};
    dataWritten[static_cast<int>(kind)] = true;
    return path.string();
}

// One /all run's scan of the file of `kind`, as the driver does it: open, measure, scan (the
// scan closes the file), with the report going to the null device. With `patch`, every
// header gets a new aspect ratio (3 and 2 in turn, so that every run changes every header).
void scanBenchmark(benchmark::State& state, DataKind kind, std::size_t blocksPerRead, bool patch) {
    std::string path = dataFile(kind);
    if (path.empty()) {
        state.SkipWithError("cannot write the data file");
        return;
    }
    tessarwick::ReportSink report;
    if (!tessarwick::openReportSink(report, false, "")) {
        state.SkipWithError("cannot open the null device");
        return;
    }
    PatchRequest request;
    request.patchAll = true;
    uint64_t headersFound = 0;
    uint64_t turn = 0;
    for (auto _ : state) {
        if (patch) request.aspectRatio = (turn++ % 2 == 0) ? 3 : 2;
        tessarwick::platform::FileHandle file;
        if (!tessarwick::platform::openVideoFile(path, file)) {
            state.SkipWithError("cannot open the data file");
            break;
        }
        uint64_t sizeBytes = tessarwick::platform::fileSizeBytes(file);
        tessarwick::RunCounters counters;
        tessarwick::ScanRun run{request, report, counters};
        benchmark::DoNotOptimize(tessarwick::scanVideoFile(file, sizeBytes, run, blocksPerRead));
        headersFound += counters.headersFound;
    }
    tessarwick::closeReportSink(report);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileBytes));
    // Headers found per scan (counted before the 16-bit counter could wrap), to show that
    // the real-looking data is really found.
    if (state.iterations() > 0)
        state.counters["headers"] =
            static_cast<double>(headersFound) / static_cast<double>(state.iterations());
}

void registerScan(const char* name, DataKind kind, std::size_t blocksPerRead, bool patch = false) {
    benchmark::RegisterBenchmark(name, scanBenchmark, kind, blocksPerRead, patch)
        ->UseRealTime()
        ->MinTime(1.0)
        ->Unit(benchmark::kMillisecond);
}

bool makeDataFolder() {
    std::random_device seed;
    std::error_code error;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::filesystem::path folder =
            std::filesystem::temp_directory_path(error) / ("tessarwick-scan-bench-" + std::to_string(seed()));
        if (error) return false;
        if (std::filesystem::create_directory(folder, error)) {
            dataFolder = folder;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr std::size_t chunked = tessarwick::defaultBlocksPerRead;
    registerScan("scan_all/real_looking", DataKind::realLooking, chunked);
    registerScan("scan_all/real_looking/block_reads", DataKind::realLooking, 1);
    registerScan("scan_all/real_looking/patch_every_header", DataKind::realLooking, chunked, true);
    registerScan("scan_all/random", DataKind::random, chunked);
    registerScan("scan_all/zeros", DataKind::zeros, chunked);
    registerScan("scan_all/b3_bytes", DataKind::sequenceHeaderBytes, chunked);
    registerScan("scan_all/start_code_every_4_bytes", DataKind::startCodes, chunked);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!makeDataFolder()) {
        std::fprintf(stderr, "cannot create a temporary folder for the data files\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code error;
    std::filesystem::remove_all(dataFolder, error);
    return 0;
}
