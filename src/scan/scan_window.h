// The walk over the video file: a logical window of two 4096-byte blocks, the block under
// search in its first half and the next block as look-ahead in its second half.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "report/report_sink.h"
#include "run/patch_request.h"
#include "scan/run_counters.h"

namespace tessarwick {

inline constexpr std::size_t blockSize = 4096;
inline constexpr std::size_t windowSize = 2 * blockSize;

// Window byte i is file byte firstBlock * 4096 + i. With /all, the bytes past the end of
// the file are 00 in memory only. `bytes` points into the scanner's read buffer.
struct ScanWindow {
    uint8_t* bytes = nullptr;
    int64_t firstBlock = 0;
    std::size_t bytesInFile = windowSize;  // window bytes that exist in the file
};

// What happened to one accepted header and the extension after it; read by the scanner
// for the write-back decision.
struct HeaderPatchState {
    bool headerChanged = false;
    bool extensionChanged = false;
    // Header fields whose MPEG-2 extension bits must not keep stale high-order values.
    bool horizontalSizePatched = false;
    bool verticalSizePatched = false;
    bool frameRatePatched = false;
    bool bitRatePatched = false;
    bool vbvBufferSizePatched = false;
};

// Everything a scan shares with the header and extension handlers.
struct ScanRun {
    const PatchRequest& request;
    ReportSink& report;
    RunCounters& counters;
};

// Blocks per read: 256 blocks (1 MiB) in a run; 1 gives one read per block.
inline constexpr std::size_t defaultBlocksPerRead = 256;
inline constexpr std::size_t maxBlocksPerRead = 256;

// Scans (and patches) the open video file of `startSizeBytes` bytes, closes it and
// answers its size in bytes measured after the scan.
uint64_t scanVideoFile(platform::FileHandle file, uint64_t startSizeBytes, ScanRun& run,
                       std::size_t blocksPerRead = defaultBlocksPerRead);

}  // namespace tessarwick
