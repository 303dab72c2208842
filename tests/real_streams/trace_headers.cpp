#include "real_streams/trace_headers.h"

#include <sstream>

#include "support/run_tool.h"

namespace tessarwick::testing {

namespace {

// Every line of the filter starts with "[trace_headers @ 0x55cd41139d80] "; the address changes.
constexpr const char* kTracePrefix = "[trace_headers @ ";

// Splits on LF and on CR: ffmpeg ends its progress lines with a CR alone.
std::vector<std::string> logLines(const std::string& log) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : log) {
        if (c == '\n' || c == '\r') {
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// A syntax element line reads "<bit position>  <name>  <bits> = <value>".
bool parseElement(const std::string& text, std::string& name, int64_t& value) {
    std::istringstream in(text);
    long long position = 0;
    std::string bits;
    std::string equals;
    long long number = 0;
    if (!(in >> position >> name >> bits >> equals >> number) || equals != "=") return false;
    if (bits.find_first_not_of("01") != std::string::npos) return false;
    value = number;
    return true;
}

}  // namespace

int64_t TracedUnit::operator[](const std::string& name) const {
    auto found = elements.find(name);
    return found == elements.end() ? -1 : found->second;
}

std::size_t TracedHeader::length() const {
    std::size_t bytes = 12;
    if (header["load_intra_quantiser_matrix"] == 1) bytes += 64;
    if (header["load_non_intra_quantiser_matrix"] == 1) bytes += 64;
    return bytes;
}

HeaderTrace parseHeaderTrace(const std::string& log) {
    HeaderTrace trace;
    bool inPackets = false;  // false while the extradata copy is traced
    // The unit whose element lines follow: an extension is announced as "Extension Data" with
    // its start code and identifier, and only then named ("Sequence Extension" for identifier 1).
    enum class Unit { kOther, kHeader, kExtensionData, kSequenceExtension } unit = Unit::kOther;
    TracedUnit extensionData;
    bool headerJustEnded = false;  // the unit before "Extension Data" was a sequence header

    for (const std::string& line : logLines(log)) {
        std::size_t prefix = line.find(kTracePrefix);
        if (prefix == std::string::npos) {
            if (line.find("Failed to read unit") != std::string::npos ||
                line.find("out of range") != std::string::npos || line.find("Invalid") != std::string::npos ||
                line.find("rror") != std::string::npos)
                trace.problems += line + "\n";
            continue;
        }
        std::size_t close = line.find("] ", prefix);
        if (close == std::string::npos) continue;
        std::string text = line.substr(close + 2);

        std::string name;
        int64_t value = 0;
        if (parseElement(text, name, value)) {
            if (!inPackets) continue;
            if (unit == Unit::kHeader) {
                trace.headers.back().header.elements.emplace(name, value);
            } else if (unit == Unit::kExtensionData) {
                extensionData.elements.emplace(name, value);
            } else if (unit == Unit::kSequenceExtension) {
                trace.headers.back().extension.elements.emplace(name, value);
            }
            continue;
        }
        if (text.rfind("Packet: ", 0) == 0) {
            inPackets = true;
            unit = Unit::kOther;
            headerJustEnded = false;
            continue;
        }
        if (text.find("Invalid") != std::string::npos || text.find("Failed") != std::string::npos ||
            text.find("out of range") != std::string::npos) {
            trace.problems += text + "\n";
            continue;
        }
        if (!inPackets) continue;
        // A title line names the unit that the following element lines belong to.
        if (text == "Sequence Header") {
            trace.headers.push_back({});
            unit = Unit::kHeader;
        } else if (text == "Extension Data") {
            headerJustEnded = unit == Unit::kHeader || (unit == Unit::kExtensionData && headerJustEnded);
            extensionData = {};
            unit = Unit::kExtensionData;
        } else if (text == "Sequence Extension" && unit == Unit::kExtensionData && headerJustEnded &&
                   !trace.headers.empty() && !trace.headers.back().hasExtension) {
            trace.headers.back().hasExtension = true;
            trace.headers.back().extension = extensionData;
            unit = Unit::kSequenceExtension;
        } else {
            unit = Unit::kOther;
            headerJustEnded = false;
        }
    }
    return trace;
}

HeaderTrace traceHeaders(const std::string& path) {
    RunResult run = runProgram(
        {"ffmpeg", "-hide_banner", "-nostdin", "-nostats", "-loglevel", "info", "-c:v", "mpeg2video", "-i",
         path, "-map", "0:v:0", "-c:v", "copy", "-bsf:v", "trace_headers", "-f", "null", "-"},
        "/");
    HeaderTrace trace = parseHeaderTrace(run.standardError);
    trace.status = run.status;
    return trace;
}

}  // namespace tessarwick::testing
