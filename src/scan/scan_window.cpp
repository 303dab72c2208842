#include "scan/scan_window.h"

#include <cstring>

#include "scan/extension_fields.h"
#include "scan/header_fields.h"
#include "scan/sequence_header.h"
#include "scan/start_code_search.h"

namespace tessarwick {

namespace {

// The file is read many blocks at a time into one buffer, and the logical window slides
// through it: window b is buffer bytes of blocks b and b + 1. When block b + 1 would fall
// past the buffer's end, block b moves to the front and the next blocks are read after it.
// So every block is read once, and a byte patched in a later block of the buffer is what
// the later windows see.
constexpr std::size_t bufferBlocks = maxBlocksPerRead + 1;
alignas(64) uint8_t readBuffer[bufferBlocks * blockSize];

// The part of the file that lives in readBuffer, and how far reading has come.
struct ReadState {
    platform::FileHandle file;
    uint64_t readEnd = 0;  // bytes of the file that the scan reads at all
    std::size_t bytesPerRead = 0;
    int64_t bufferFirstBlock = 0;  // the block at buffer byte 0
    uint64_t bytesRead = 0;        // file bytes read so far, from offset 0
    int pendingFailure = 0;        // a read failed: status that ends the run
};

uint64_t blockStart(int64_t block) { return static_cast<uint64_t>(block) * blockSize; }

uint64_t minimum(uint64_t a, uint64_t b) { return a < b ? a : b; }

// Past the end of the file the window holds 00 bytes, which can never complete a header.
// Only the rest of the last block and one look-ahead block can be part of a window.
void clearBeyondData(ReadState& state) {
    std::size_t used = static_cast<std::size_t>(state.bytesRead - blockStart(state.bufferFirstBlock));
    std::size_t rest = sizeof readBuffer - used;
    std::memset(readBuffer + used, 0, rest < windowSize ? rest : windowSize);
}

// Makes sure blocks b and b + 1 are in the buffer as far as the file has them; ends the
// run if a read failed before the look-ahead block arrived whole.
uint8_t* loadWindow(ReadState& state, int64_t block) {
    uint64_t lookAheadEnd = minimum(blockStart(block + 2), state.readEnd);
    while (state.bytesRead < lookAheadEnd) {
        if (state.pendingFailure != 0) platform::failRun(state.pendingFailure);
        std::size_t used = static_cast<std::size_t>(state.bytesRead - blockStart(state.bufferFirstBlock));
        if (sizeof readBuffer - used < state.bytesPerRead) {
            // Keep the first half, whose bytes may already be patched, and read on after it.
            std::size_t keep = used - static_cast<std::size_t>(block - state.bufferFirstBlock) * blockSize;
            std::memmove(readBuffer, readBuffer + (used - keep), keep);
            state.bufferFirstBlock = block;
            used = keep;
        }
        std::size_t wanted =
            static_cast<std::size_t>(minimum(state.bytesPerRead, state.readEnd - state.bytesRead));
        platform::ReadOutcome outcome = platform::readFully(state.file, readBuffer + used, wanted);
        state.bytesRead += outcome.bytesRead;
        state.pendingFailure = outcome.failureStatus;
        if (state.bytesRead == state.readEnd) clearBeyondData(state);
    }
    if (blockStart(block + 2) > blockStart(state.bufferFirstBlock) + sizeof readBuffer) {
        // The last block of the file, with nothing after it: move it to the front so that
        // its look-ahead half (00 bytes) fits in the buffer.
        std::memmove(readBuffer, readBuffer + (blockStart(block) - blockStart(state.bufferFirstBlock)),
                     blockSize);
        state.bufferFirstBlock = block;
        clearBeyondData(state);
    }
    return readBuffer + (blockStart(block) - blockStart(state.bufferFirstBlock));
}

// Searches the window's first half; answers false once the scan must stop (without /all,
// after the first accepted header).
bool scanFirstHalf(ScanWindow& window, ScanRun& run, platform::FileHandle file) {
    std::size_t position = 0;
    for (;;) {
        position = findSequenceHeaderCode(window.bytes, position, blockSize);
        if (position >= blockSize) return true;
        SequenceHeaderFields fields;
        uint16_t nextStartDistance = 0;
        if (!testSequenceHeader(window.bytes, position, fields, nextStartDistance)) {
            ++position;
            continue;
        }
        HeaderPatchState state;
        processSequenceHeader(window, position, fields, run, state);
        processSequenceExtension(window, position, nextStartDistance, run, state);
        if (state.headerChanged || state.extensionChanged)
            platform::writeAt(file, blockStart(window.firstBlock), window.bytes, window.bytesInFile);
        if (!run.request.patchAll) return false;
        // The rest of the header's fixed part cannot begin another header.
        position += 12;
    }
}

}  // namespace

uint64_t scanVideoFile(platform::FileHandle file, uint64_t startSizeBytes, ScanRun& run,
                       std::size_t blocksPerRead) {
    if (blocksPerRead < 1) blocksPerRead = 1;
    if (blocksPerRead > maxBlocksPerRead) blocksPerRead = maxBlocksPerRead;

    ReadState state;
    state.file = file;
    state.bytesPerRead = blocksPerRead * blockSize;
    // Without /all only block 0 is searched, with block 1 as its look-ahead. With /all every
    // block is searched, the last whole block and a partial tail included.
    state.readEnd = run.request.patchAll ? startSizeBytes : windowSize;
    if (run.request.patchAll) platform::adviseSequentialRead(file);

    for (int64_t block = 0; blockStart(block) < state.readEnd && (block == 0 || run.request.patchAll);
         ++block) {
        ScanWindow window;
        window.bytes = loadWindow(state, block);
        window.firstBlock = block;
        // A write-back never makes the file longer than it was.
        window.bytesInFile =
            static_cast<std::size_t>(minimum(windowSize, startSizeBytes - blockStart(block)));
        if (!scanFirstHalf(window, run, file)) break;
    }

    uint64_t fileSizeBytes = platform::fileSizeBytes(file);
    platform::closeVideoFile(file);
    return fileSizeBytes;
}

}  // namespace tessarwick
