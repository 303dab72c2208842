// ffmpeg and ffprobe as independent judges of the tool's work on real streams: the headers as
// ffmpeg's parser reads them, the decoded frames, and what a player would show.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "real_streams/trace_headers.h"
#include "support/test_files.h"

namespace tessarwick::testing {

// Why the judges cannot run here (no ffmpeg, no ffprobe, no trace_headers filter), or empty.
const std::string& ffmpegMissingReason();

// Tests that need ffmpeg are skipped with the reason where it is missing, never passed.
#define SKIP_WITHOUT_FFMPEG()                                                            \
    do {                                                                                 \
        const std::string& missingReason = ::tessarwick::testing::ffmpegMissingReason(); \
        if (!missingReason.empty()) GTEST_SKIP() << missingReason;                       \
    } while (false)

std::string fixturePath(const std::string& fixture);

// The trace of a committed fixture, made once per test program.
const HeaderTrace& fixtureTrace(const std::string& fixture);

// The decoded frames of the first video stream (`-f framemd5`), with ffmpeg's error lines.
struct DecodedFrames {
    int status = -1;
    std::vector<std::string> md5s;  // one per frame, in output order
    std::vector<std::string> errors;
};
DecodedFrames decodeFrames(const std::string& path);
// The same for a committed fixture, made once per test program.
const DecodedFrames& fixtureFrames(const std::string& fixture);

// ffprobe's view of the first video stream.
struct VideoProbe {
    std::string displayAspectRatio;  // "16:9"
    std::string sampleAspectRatio;
    std::string averageFrameRate;  // "30000/1001"
};
VideoProbe probeVideo(const std::string& path);

// File offsets of the first 00 of every 00 00 01 B3 in `bytes`, in order. In every fixture the
// k-th of them is the k-th sequence header that ffmpeg traces (no stray pattern in audio or
// other packets).
std::vector<std::size_t> sequenceHeaderStarts(const Bytes& bytes);

// The header byte (4 to 11) at which a container packet header begins inside the header that
// starts at `start`, so that the file's bytes from there on are not the header's; 0 when none
// does. A real header holds no 00 00 01 in its bytes 4 to 11.
std::size_t containerCut(const Bytes& bytes, std::size_t start);

// The same as an explanation, or empty: "split by a pack header at header byte 11" in a program
// stream, whose packs begin with 00 00 01 BA.
std::string containerSplit(const Bytes& bytes, std::size_t start);

// The fields of the header that starts at `start` decoded from the file's own bytes 4 to 11,
// under the names the trace uses. Where a container cuts the header these are not ffmpeg's
// values, which it reads from the reassembled packets.
TracedUnit headerInFile(const Bytes& bytes, std::size_t start);

// The plausibility verdict on a header's values as ffmpeg read them.
struct Plausibility {
    bool outright = false;  // a size below 16 or not a multiple of 8, a zero code or buffer size, marker 0
    int score = 0;
    std::string rules;  // "rule:points" for every rule that holds, e.g. "1:5 2:5"
};
Plausibility plausibilityOf(const TracedUnit& header);

}  // namespace tessarwick::testing
