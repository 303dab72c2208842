// ffmpeg's trace_headers bitstream filter prints every syntax element of every MPEG video
// sequence header and sequence extension it passes. This reads that text back into values, so
// that ffmpeg can judge the tool's report and its patches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessarwick::testing {

// The syntax elements of one unit, by their ISO/IEC 13818-2 names, with the values the trace
// printed (bit_rate_value in 400 bit/s, vbv_buffer_size_value in 16384 bits, codes as coded).
struct TracedUnit {
    std::map<std::string, int64_t> elements;

    bool has(const std::string& name) const { return elements.count(name) != 0; }
    // The value of `name`, or -1 when the trace did not print it (a unit cut short).
    int64_t operator[](const std::string& name) const;
};

// One sequence header and the sequence extension that ffmpeg read right after it, if any.
struct TracedHeader {
    TracedUnit header;
    bool hasExtension = false;
    TracedUnit extension;

    // Bytes from the first 00 of the start code to the next start code: 12, and 64 more for
    // each quantiser matrix the header loads.
    std::size_t length() const;
};

struct HeaderTrace {
    int status = -1;  // ffmpeg's exit status, -1 when it could not be run
    // Every sequence header of the stream's packets in stream order. The copy of the first header
    // that the filter traces from the stream's extradata before the first packet is left out.
    std::vector<TracedHeader> headers;
    std::string problems;  // ffmpeg's lines about units it could not read
};

// Reads the log text (standard error) of a trace_headers run.
HeaderTrace parseHeaderTrace(const std::string& log);

// Runs ffmpeg with trace_headers over the first video stream of `path` and reads the result.
// The input is labelled mpeg2video so that MPEG-1 video passes the filter as well.
HeaderTrace traceHeaders(const std::string& path);

}  // namespace tessarwick::testing
