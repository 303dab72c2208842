#include "real_streams/tool_report.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

#include "support/run_tool.h"

namespace tessarwick::testing {

namespace {

const std::array<std::string, kHeaderFieldCount> kHeaderLabels = {
    "  horizontal size       : ", "  vertical size         : ", "  aspect ratio          : ",
    "  frame rate            : ", "  bit rate              : ", "  vbv buffer size       : ",
    "  constrained parameters: "};
const std::array<std::string, kExtensionFieldCount> kExtensionLabels = {
    "  profile               : ", "  level                 : ", "  progressive sequence  : ",
    "  chroma subsampling    : "};
const std::array<std::string, kHeaderFieldCount> kHeaderCountLabels = {
    "  horizontal size pat.  : ", "  vertical size patched : ", "  aspect ratio patched  : ",
    "  frame rate patched    : ", "  bit rate patched      : ", "  vbv buffer size pat.  : ",
    "  constrained param.pat.: "};
const std::array<std::string, kExtensionFieldCount> kExtensionCountLabels = {
    "  profile patched       : ", "  level patched         : ", "  progressive seq. pat. : ",
    "  chroma subsampl. pat. : "};

const std::string kHeaderFound = "+ Sequenceheader found at ";
const std::string kExtensionFound = "+ Sequence extension found at ";
const std::string kHeaderTotals = "# Sequenceheader found ";
const std::string kExtensionTotals = "# Sequence extension found ";
const std::string kNotPatched = " -> not patched";
const std::string kPatchedTo = " -> patched to ";

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The number at the start of `text`, or -1 when it does not start with a digit.
int64_t leadingNumber(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    if (digits == 0 || digits > 18) return -1;
    return std::stoll(text.substr(0, digits));
}

// "<decimal> (<HEX>h)" after a found line's text; -1 when the two numbers disagree.
int64_t offsetOf(const std::string& rest) {
    int64_t decimal = leadingNumber(rest);
    std::ostringstream expected;
    expected << decimal << " (" << std::uppercase << std::hex << decimal << "h)";
    return rest == expected.str() ? decimal : -1;
}

bool parseFieldLine(const std::string& line, const std::string& label, ReportedField& field) {
    if (!startsWith(line, label)) return false;
    std::string rest = line.substr(label.size());
    std::size_t verdict = rest.find(" -> ");
    if (verdict == std::string::npos) return false;
    field.current = leadingNumber(rest);
    std::string tail = rest.substr(verdict);
    if (tail == kNotPatched) return field.current >= 0;
    if (!startsWith(tail, kPatchedTo)) return false;
    field.patched = true;
    field.patchedTo = leadingNumber(tail.substr(kPatchedTo.size()));
    return field.current >= 0 && field.patchedTo >= 0;
}

// "<label><count>" in the summary.
int64_t countAfter(const std::string& line, const std::string& label) {
    if (!startsWith(line, label)) return -1;
    std::string rest = line.substr(label.size());
    int64_t count = leadingNumber(rest);
    return std::to_string(count) == rest ? count : -1;
}

// "<found>, patched <patched>" or "<found><maybe not text>".
void parseTotals(const std::string& rest, const std::string& maybeNot, int64_t& found, int64_t& patched,
                 std::string& problems, const std::string& line) {
    found = leadingNumber(rest);
    std::string tail = rest.substr(std::to_string(found).size());
    if (found >= 0 && tail == maybeNot && found == 0) {
        patched = -1;
    } else if (found >= 0 && startsWith(tail, ", patched ")) {
        patched = leadingNumber(tail.substr(10));
        if (std::to_string(patched) != tail.substr(10)) problems += "bad totals: " + line + "\n";
    } else {
        problems += "bad totals: " + line + "\n";
    }
}

}  // namespace

bool ReportedExtension::anyPatched() const {
    for (const ReportedField& field : fields)
        if (field.patched) return true;
    return false;
}

bool ReportedHeader::anyPatched() const {
    for (const ReportedField& field : fields)
        if (field.patched) return true;
    return false;
}

std::size_t ToolReport::extensionCount() const {
    std::size_t count = 0;
    for (const ReportedHeader& header : headers) count += header.hasExtension ? 1 : 0;
    return count;
}

ToolReport parseToolReport(const std::string& text) {
    ToolReport report;
    std::vector<std::string> lines = reportLines(text);
    std::size_t i = 0;
    auto problem = [&](const std::string& what) {
        report.problems += what + (i < lines.size() ? ": " + lines[i] : std::string(" at the end")) + "\n";
    };
    while (i < lines.size() && (startsWith(lines[i], "# Tessarwick build ") || startsWith(lines[i], "* ")))
        ++i;

    while (i < lines.size() && startsWith(lines[i], "+ ")) {
        if (startsWith(lines[i], kHeaderFound)) {
            ReportedHeader header;
            int64_t offset = offsetOf(lines[i].substr(kHeaderFound.size()));
            if (offset < 0) problem("bad header offset");
            header.offset = static_cast<uint64_t>(offset);
            ++i;
            for (int f = 0; f < kHeaderFieldCount; ++f, ++i)
                if (i >= lines.size() || !parseFieldLine(lines[i], kHeaderLabels[f], header.fields[f]))
                    problem("expected the line of " + kHeaderLabels[f]);
            report.headers.push_back(header);
        } else if (startsWith(lines[i], kExtensionFound) && !report.headers.empty() &&
                   !report.headers.back().hasExtension) {
            ReportedExtension& extension = report.headers.back().extension;
            report.headers.back().hasExtension = true;
            int64_t offset = offsetOf(lines[i].substr(kExtensionFound.size()));
            if (offset < 0) problem("bad extension offset");
            extension.offset = static_cast<uint64_t>(offset);
            ++i;
            for (int f = 0; f < kExtensionFieldCount; ++f, ++i)
                if (i >= lines.size() || !parseFieldLine(lines[i], kExtensionLabels[f], extension.fields[f]))
                    problem("expected the line of " + kExtensionLabels[f]);
        } else {
            problem("unexpected line");
            ++i;
        }
    }

    ReportSummary& summary = report.summary;
    if (i >= lines.size() || !startsWith(lines[i], kHeaderTotals)) {
        problem("expected the header totals");
        return report;
    }
    summary.present = true;
    parseTotals(lines[i].substr(kHeaderTotals.size()), ", maybe not an mpg-video file?", summary.headersFound,
                summary.headersPatched, report.problems, lines[i]);
    ++i;
    for (int f = 0; f < kHeaderFieldCount; ++f, ++i)
        if (i >= lines.size() ||
            (summary.headerFieldsPatched[f] = countAfter(lines[i], kHeaderCountLabels[f])) < 0)
            problem("expected the row of " + kHeaderCountLabels[f]);
    if (i >= lines.size() || !startsWith(lines[i], kExtensionTotals)) {
        problem("expected the extension totals");
        return report;
    }
    parseTotals(lines[i].substr(kExtensionTotals.size()), ", maybe not an mpg2-video file?",
                summary.extensionsFound, summary.extensionsPatched, report.problems, lines[i]);
    ++i;
    for (int f = 0; f < kExtensionFieldCount; ++f, ++i)
        if (i >= lines.size() ||
            (summary.extensionFieldsPatched[f] = countAfter(lines[i], kExtensionCountLabels[f])) < 0)
            problem("expected the row of " + kExtensionCountLabels[f]);
    if (i >= lines.size() || !startsWith(lines[i], "# time taken ")) problem("expected the time line");
    if (i + 1 < lines.size()) {
        ++i;
        problem("lines after the time line");
    }
    return report;
}

std::string summaryDisagreements(const ToolReport& report) {
    std::ostringstream out;
    const ReportSummary& summary = report.summary;
    if (!summary.present) return "no summary\n";
    int64_t headersPatched = 0;
    int64_t extensionsPatched = 0;
    std::array<int64_t, kHeaderFieldCount> headerFields{};
    std::array<int64_t, kExtensionFieldCount> extensionFields{};
    for (const ReportedHeader& header : report.headers) {
        headersPatched += header.anyPatched() ? 1 : 0;
        for (int f = 0; f < kHeaderFieldCount; ++f) headerFields[f] += header.fields[f].patched ? 1 : 0;
        if (!header.hasExtension) continue;
        extensionsPatched += header.extension.anyPatched() ? 1 : 0;
        for (int f = 0; f < kExtensionFieldCount; ++f)
            extensionFields[f] += header.extension.fields[f].patched ? 1 : 0;
    }
    auto compare = [&](const std::string& what, int64_t shown, int64_t lines) {
        if (shown != lines)
            out << what << ": the summary shows " << shown << ", the lines give " << lines << "\n";
    };
    const int64_t headers = static_cast<int64_t>(report.headers.size());
    const int64_t extensions = static_cast<int64_t>(report.extensionCount());
    compare("headers found", summary.headersFound, headers);
    // ", maybe not an mpg-video file?" stands where nothing was found; the patched count only otherwise.
    compare("headers patched", summary.headersPatched, headers == 0 ? -1 : headersPatched);
    for (int f = 0; f < kHeaderFieldCount; ++f)
        compare(kHeaderCountLabels[f], summary.headerFieldsPatched[f], headerFields[f]);
    compare("extensions found", summary.extensionsFound, extensions);
    compare("extensions patched", summary.extensionsPatched, extensions == 0 ? -1 : extensionsPatched);
    for (int f = 0; f < kExtensionFieldCount; ++f)
        compare(kExtensionCountLabels[f], summary.extensionFieldsPatched[f], extensionFields[f]);
    return out.str();
}

std::vector<std::size_t> unclaimedChanges(const Bytes& before, const Bytes& after, const ToolReport& report) {
    std::set<std::size_t> claimed;
    auto claim = [&](uint64_t from, uint64_t to) {
        for (uint64_t offset = from; offset <= to; ++offset) claimed.insert(static_cast<std::size_t>(offset));
    };
    for (const ReportedHeader& header : report.headers) {
        // Offsets in the report are those of byte 4. Byte 11 is not the header's when a
        // container's start code prefix begins there.
        const uint64_t byte11 = header.offset + 7;
        const bool cutAtByte11 = byte11 + 2 < before.size() && before[byte11] == 0x00 &&
                                 before[byte11 + 1] == 0x00 && before[byte11 + 2] == 0x01;
        if (header.anyPatched()) claim(header.offset, cutAtByte11 ? byte11 - 1 : byte11);
        if (!header.hasExtension) continue;
        if (header.extension.anyPatched()) claim(header.extension.offset, header.extension.offset + 1);
        if (header.anyPatched()) claim(header.extension.offset + 2, header.extension.offset + 5);
    }
    std::vector<std::size_t> unclaimed;
    std::size_t common = std::min(before.size(), after.size());
    for (std::size_t offset = 0; offset < common; ++offset)
        if (before[offset] != after[offset] && claimed.count(offset) == 0) unclaimed.push_back(offset);
    return unclaimed;
}

}  // namespace tessarwick::testing
