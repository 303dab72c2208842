#include "real_streams/ffmpeg_oracle.h"

#include <map>
#include <sstream>

#include "support/run_tool.h"

namespace tessarwick::testing {

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace

const std::string& ffmpegMissingReason() {
    static const std::string reason = [] {
        if (!programAvailable("ffmpeg"))
            return std::string("ffmpeg is not installed (Debian package ffmpeg)");
        if (!programAvailable("ffprobe"))
            return std::string("ffprobe is not installed (Debian package ffmpeg)");
        RunResult filters = runProgram({"ffmpeg", "-hide_banner", "-bsfs"}, "/");
        if (filters.standardOutput.find("trace_headers") == std::string::npos)
            return std::string("this ffmpeg has no trace_headers bitstream filter");
        return std::string();
    }();
    return reason;
}

std::string fixturePath(const std::string& fixture) {
    return std::string(TESSARWICK_FIXTURES) + "/" + fixture;
}

const HeaderTrace& fixtureTrace(const std::string& fixture) {
    static std::map<std::string, HeaderTrace> traces;
    auto found = traces.find(fixture);
    if (found == traces.end()) found = traces.emplace(fixture, traceHeaders(fixturePath(fixture))).first;
    return found->second;
}

DecodedFrames decodeFrames(const std::string& path) {
    RunResult run = runProgram(
        {"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-f", "framemd5", "-"}, "/");
    DecodedFrames frames;
    frames.status = run.status;
    // Data lines read "0, dts, pts, duration, size, md5"; lines starting with '#' describe the stream.
    for (const std::string& line : splitLines(run.standardOutput)) {
        if (line[0] == '#') continue;
        std::size_t comma = line.rfind(',');
        std::size_t start = line.find_first_not_of(' ', comma + 1);
        frames.md5s.push_back(start == std::string::npos ? std::string() : line.substr(start));
    }
    frames.errors = splitLines(run.standardError);
    return frames;
}

const DecodedFrames& fixtureFrames(const std::string& fixture) {
    static std::map<std::string, DecodedFrames> decoded;
    auto found = decoded.find(fixture);
    if (found == decoded.end()) found = decoded.emplace(fixture, decodeFrames(fixturePath(fixture))).first;
    return found->second;
}

VideoProbe probeVideo(const std::string& path) {
    RunResult run = runProgram(
        {"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
         "stream=display_aspect_ratio,sample_aspect_ratio,avg_frame_rate", "-of", "default=nw=1", path},
        "/");
    VideoProbe probe;
    // A transport stream lists the stream twice (under its program and on its own); the first counts.
    for (const std::string& line : splitLines(run.standardOutput)) {
        std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        std::string* target = key == "display_aspect_ratio"  ? &probe.displayAspectRatio
                              : key == "sample_aspect_ratio" ? &probe.sampleAspectRatio
                              : key == "avg_frame_rate"      ? &probe.averageFrameRate
                                                             : nullptr;
        if (target != nullptr && target->empty()) *target = value;
    }
    return probe;
}

std::vector<std::size_t> sequenceHeaderStarts(const Bytes& bytes) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (bytes[i] == 0x00 && bytes[i + 1] == 0x00 && bytes[i + 2] == 0x01 && bytes[i + 3] == 0xB3)
            starts.push_back(i);
    return starts;
}

std::size_t containerCut(const Bytes& bytes, std::size_t start) {
    // The sizes, the aspect code and the marker bit are never zero, so no start code prefix can
    // begin in bytes 4 to 10, and byte 11 is 00 only when the next start code begins at byte 12.
    // A prefix that begins there belongs to the container.
    for (std::size_t byte = 4; byte <= 11; ++byte) {
        std::size_t at = start + byte;
        if (at + 3 >= bytes.size()) break;
        if (bytes[at] == 0x00 && bytes[at + 1] == 0x00 && bytes[at + 2] == 0x01) return byte;
    }
    return 0;
}

std::string containerSplit(const Bytes& bytes, std::size_t start) {
    const std::size_t byte = containerCut(bytes, start);
    if (byte == 0) return std::string();
    const uint8_t code = bytes[start + byte + 3];
    std::ostringstream why;
    if (code == 0xBA)
        why << "split by a pack header";
    else
        why << "split by a container packet header (start code " << std::hex << std::uppercase
            << static_cast<int>(code) << "h)";
    why << std::dec << " at header byte " << byte;
    return why.str();
}

TracedUnit headerInFile(const Bytes& bytes, std::size_t start) {
    TracedUnit header;
    if (start + 12 > bytes.size()) return header;
    auto b = [&](std::size_t n) { return static_cast<int64_t>(bytes[start + n]); };
    auto& e = header.elements;
    e["sequence_header_code"] = b(3);
    e["horizontal_size_value"] = b(4) << 4 | b(5) >> 4;
    e["vertical_size_value"] = (b(5) & 15) << 8 | b(6);
    e["aspect_ratio_information"] = b(7) >> 4;
    e["frame_rate_code"] = b(7) & 15;
    e["bit_rate_value"] = b(8) << 10 | b(9) << 2 | b(10) >> 6;
    e["marker_bit"] = b(10) >> 5 & 1;
    e["vbv_buffer_size_value"] = (b(10) & 31) << 5 | b(11) >> 3;
    e["constrained_parameters_flag"] = b(11) >> 2 & 1;
    return header;
}

Plausibility plausibilityOf(const TracedUnit& header) {
    const int64_t width = header["horizontal_size_value"];
    const int64_t height = header["vertical_size_value"];
    const int64_t aspect = header["aspect_ratio_information"];
    const int64_t frameRate = header["frame_rate_code"];
    const int64_t bitRate = 4 * header["bit_rate_value"];  // in 100 bit/s, as the score counts
    const int64_t vbv = header["vbv_buffer_size_value"];
    const int64_t constrained = header["constrained_parameters_flag"];
    const int64_t area = width * height;

    Plausibility verdict;
    verdict.outright = header["marker_bit"] != 1 || width < 16 || height < 16 || width % 8 != 0 ||
                       height % 8 != 0 || aspect == 0 || frameRate == 0 || vbv == 0;
    // The side-ratio rules compare quotients; for these sizes that equals comparing products.
    auto ratioAbove = [&](int64_t r) { return width > r * height || height > r * width; };
    const struct {
        bool holds;
        int points;
    } rules[] = {
        {width < 320, 5},                           // 1
        {height < 240, 5},                          // 2
        {aspect > 4, 10},                           // 3
        {frameRate > 8, 10},                        // 4
        {area > 640000 && aspect < 3, 3},           // 5
        {bitRate > 600000, 5},                      // 6
        {bitRate < 14000, 5},                       // 7
        {area > 920000 && bitRate < 30000, 5},      // 8
        {area < 920000 && bitRate > 200000, 5},     // 9
        {vbv % 2 == 1, 3},                          // 10
        {vbv % 4 != 0, 1},                          // 11
        {area > 920000 && vbv < 100, 5},            // 12
        {area < 920000 && vbv > 200, 5},            // 13
        {constrained == 1 && width > 720, 5},       // 14
        {constrained == 1 && height > 576, 5},      // 15
        {constrained == 1 && frameRate > 5, 4},     // 16
        {constrained == 1 && vbv > 120, 5},         // 17
        {constrained == 1 && bitRate > 30000, 4},   // 18
        {constrained == 1 && bitRate > 100000, 6},  // 19
        {width < height, 2},                        // 20
        {ratioAbove(3), 5},                         // 21
        {ratioAbove(4), 5},                         // 22
        {ratioAbove(8), 5},                         // 23
    };
    int number = 1;
    for (const auto& rule : rules) {
        if (rule.holds) {
            verdict.score += rule.points;
            if (!verdict.rules.empty()) verdict.rules += ' ';
            verdict.rules += std::to_string(number);
            verdict.rules += ':';
            verdict.rules += std::to_string(rule.points);
        }
        ++number;
    }
    return verdict;
}

}  // namespace tessarwick::testing
