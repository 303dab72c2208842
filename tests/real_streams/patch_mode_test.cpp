// Patching real streams with /all, judged by ffmpeg: its parser reads the requested values in
// every header and extension the report names as patched (and the extension's high-order bits
// of a patched field cleared), and nothing else; the bytes that changed lie inside those units;
// after changes that keep the pictures intact the decoded frames are the same and ffprobe shows
// the new display aspect ratio and frame rate. Where a container's packet header cuts a sequence
// header at byte 11, the vbv buffer size and the constrained flag, which reach into it, are never
// patched, and the container stays whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "real_streams/ffmpeg_oracle.h"
#include "real_streams/tool_report.h"
#include "support/run_tool.h"
#include "support/test_files.h"

namespace tessarwick::testing {
namespace {

// Requested values as the options take them; 0 (-1 for the flags) means not given.
struct Request {
    int64_t aspectRatio = 0;
    int64_t frameRate = 0;
    int64_t bitRate = 0;  // bit/s, a multiple of 400
    int64_t vbvBufferSize = 0;
    int64_t constrainedParameters = -1;
    int64_t profile = 0;
    int64_t level = 0;
    int64_t progressiveSequence = -1;
    int64_t chromaFormat = 0;
};

struct PatchCase {
    const char* name;
    const char* fixture;
    Request request;
    // What ffprobe shows after a change that keeps the pictures decodable; nullptr when the
    // run changes what a decoder needs, so frames are not compared.
    const char* displayAspectRatio;
    const char* frameRate;
};

void PrintTo(const PatchCase& c, std::ostream* out) { *out << c.name; }

std::vector<std::string> optionsOf(const Request& r) {
    std::vector<std::string> options{"/all", "/log"};
    auto add = [&](const char* option, int64_t value, bool given) {
        if (given) options.push_back(option + std::to_string(value));
    };
    add("/ar=", r.aspectRatio, r.aspectRatio != 0);
    add("/fr=", r.frameRate, r.frameRate != 0);
    add("/br=", r.bitRate, r.bitRate != 0);
    add("/vbv=", r.vbvBufferSize, r.vbvBufferSize != 0);
    add("/cp=", r.constrainedParameters, r.constrainedParameters >= 0);
    add("/pr=", r.profile, r.profile != 0);
    add("/lv=", r.level, r.level != 0);
    add("/ps=", r.progressiveSequence, r.progressiveSequence >= 0);
    add("/cs=", r.chromaFormat, r.chromaFormat != 0);
    return options;
}

// The requested value of each field line in the report's units (-1: not requested).
std::array<int64_t, kHeaderFieldCount> requestedHeaderFields(const Request& r) {
    return {-1,
            -1,
            r.aspectRatio ? r.aspectRatio : -1,
            r.frameRate ? r.frameRate : -1,
            r.bitRate ? r.bitRate : -1,
            r.vbvBufferSize ? r.vbvBufferSize : -1,
            r.constrainedParameters};
}
std::array<int64_t, kExtensionFieldCount> requestedExtensionFields(const Request& r) {
    return {r.profile ? r.profile : -1, r.level ? r.level : -1, r.progressiveSequence,
            r.chromaFormat ? r.chromaFormat : -1};
}

// Each requested field reads "patched to" the request, or was already the request; no other
// field is patched.
template <std::size_t N>
void expectVerdicts(const std::array<ReportedField, N>& fields, const std::array<int64_t, N>& requested,
                    uint64_t offset) {
    for (std::size_t f = 0; f < N; ++f) {
        SCOPED_TRACE("field line " + std::to_string(f) + " of the unit at " + std::to_string(offset));
        if (requested[f] < 0) {
            EXPECT_FALSE(fields[f].patched);
        } else if (fields[f].patched) {
            EXPECT_EQ(fields[f].patchedTo, requested[f]);
            EXPECT_NE(fields[f].current, requested[f]);
        } else {
            EXPECT_EQ(fields[f].current, requested[f]);
        }
    }
}

// ffmpeg's reading of one header after the run, against its reading before and what the report
// says it did there (nullptr: the tool did not report this header); `requested` holds the header
// fields this header takes, in the report's units.
void expectTracedAfterPatch(const TracedHeader& before, const TracedHeader& after,
                            const ReportedHeader* reported,
                            const std::array<int64_t, kHeaderFieldCount>& requested, const Request& r) {
    TracedUnit expected = before.header;
    if (reported != nullptr) {
        auto take = [&](const char* element, HeaderField field, int64_t unit) {
            if (requested[field] >= 0) expected.elements[element] = requested[field] / unit;
        };
        take("horizontal_size_value", kHorizontalSize, 1);
        take("vertical_size_value", kVerticalSize, 1);
        take("aspect_ratio_information", kAspectRatio, 1);
        take("frame_rate_code", kFrameRate, 1);
        take("bit_rate_value", kBitRate, 400);  // the report's bit/s
        take("vbv_buffer_size_value", kVbvBufferSize, 1);
        take("constrained_parameters_flag", kConstrainedParameters, 1);
    }
    EXPECT_EQ(after.header.elements, expected.elements) << "sequence header";

    ASSERT_EQ(after.hasExtension, before.hasExtension);
    if (!before.hasExtension) return;
    TracedUnit extension = before.extension;
    if (reported != nullptr && reported->hasExtension) {
        auto& e = extension.elements;
        const int64_t pl = e["profile_and_level_indication"];
        const int64_t profile = r.profile ? r.profile : pl >> 4;
        const int64_t level = r.level ? r.level : pl & 15;
        e["profile_and_level_indication"] = profile << 4 | level;
        if (r.progressiveSequence >= 0) e["progressive_sequence"] = r.progressiveSequence;
        if (r.chromaFormat) e["chroma_format"] = r.chromaFormat;
        // A patched header field leaves no high-order bits or scale behind in the extension.
        const auto& f = reported->fields;
        if (f[kHorizontalSize].patched) e["horizontal_size_extension"] = 0;
        if (f[kVerticalSize].patched) e["vertical_size_extension"] = 0;
        if (f[kBitRate].patched) e["bit_rate_extension"] = 0;
        if (f[kVbvBufferSize].patched) e["vbv_buffer_size_extension"] = 0;
        if (f[kFrameRate].patched) e["frame_rate_extension_n"] = e["frame_rate_extension_d"] = 0;
    }
    EXPECT_EQ(after.extension.elements, extension.elements) << "sequence extension";
}

class RealStreamPatch : public ::testing::TestWithParam<PatchCase> {};

TEST_P(RealStreamPatch, FfmpegReadsWhatTheReportClaims) {
    SKIP_WITHOUT_FFMPEG();
    const PatchCase& c = GetParam();
    SCOPED_TRACE(std::string(c.fixture) + " " + c.name);
    const HeaderTrace& original = fixtureTrace(c.fixture);
    ASSERT_EQ(original.status, 0) << original.problems;

    TempDir dir;
    const std::string path = dir.file(c.fixture);
    const Bytes before = readFile(fixturePath(c.fixture));
    writeFile(path, before);
    std::vector<std::string> options = optionsOf(c.request);
    options.insert(options.begin(), std::string("/f=") + c.fixture);
    ASSERT_EQ(runTool(options, dir.path()).status, 0);
    const Bytes after = readFile(path);
    Bytes reportBytes = readFile(path + "-Tessarwick.log");
    const std::string reportText(reportBytes.begin(), reportBytes.end());
    const ToolReport report = parseToolReport(reportText);
    ASSERT_EQ(report.problems, "") << reportText;
    EXPECT_EQ(summaryDisagreements(report), "") << reportText;

    ASSERT_EQ(after.size(), before.size()) << "the file's length changed";
    EXPECT_EQ(unclaimedChanges(before, after, report), std::vector<std::size_t>{})
        << "bytes changed outside the headers and extensions reported as patched";

    const std::vector<std::size_t> starts = sequenceHeaderStarts(before);
    ASSERT_EQ(starts.size(), original.headers.size());
    std::vector<const ReportedHeader*> reportedAt(starts.size(), nullptr);
    std::vector<std::array<int64_t, kHeaderFieldCount>> requestedAt(starts.size(),
                                                                    requestedHeaderFields(c.request));
    std::size_t patchedUnits = 0;
    for (const ReportedHeader& header : report.headers) {
        std::size_t k = 0;
        while (k < starts.size() && starts[k] + 4 != header.offset) ++k;
        ASSERT_LT(k, starts.size()) << "reported at " << header.offset << ", where no 00 00 01 B3 starts";
        reportedAt[k] = &header;
        const std::size_t cut = containerCut(before, starts[k]);
        ASSERT_TRUE(cut == 0 || cut == 11)
            << "reported although " << containerSplit(before, starts[k]) << ", inside its fields";
        // A container's packet header that begins at byte 11 holds the vbv buffer size's low
        // bits and the flag in the file: whatever is asked, those two lines say "not patched".
        if (cut == 11) requestedAt[k][kVbvBufferSize] = requestedAt[k][kConstrainedParameters] = -1;
        expectVerdicts(header.fields, requestedAt[k], header.offset);
        if (header.hasExtension)
            expectVerdicts(header.extension.fields, requestedExtensionFields(c.request),
                           header.extension.offset);
        patchedUnits += header.anyPatched() + (header.hasExtension && header.extension.anyPatched());
    }
    EXPECT_GT(patchedUnits, 0u) << "every run here changes something\n" << reportText;

    const HeaderTrace patched = traceHeaders(path);
    ASSERT_EQ(patched.status, 0) << patched.problems;
    ASSERT_EQ(patched.headers.size(), original.headers.size());
    for (std::size_t k = 0; k < starts.size(); ++k) {
        SCOPED_TRACE("header " + std::to_string(k) + " at file offset " + std::to_string(starts[k]) +
                     (reportedAt[k] ? ", reported" : ", not reported"));
        // No fixture here holds a header that the tool may pass over with /all; one left behind
        // keeps the old values, and decoders drop frames where the headers disagree.
        EXPECT_NE(reportedAt[k], nullptr);
        expectTracedAfterPatch(original.headers[k], patched.headers[k], reportedAt[k], requestedAt[k],
                               c.request);
    }

    if (c.displayAspectRatio == nullptr) return;
    const DecodedFrames& framesBefore = fixtureFrames(c.fixture);
    ASSERT_EQ(framesBefore.status, 0);
    DecodedFrames framesAfter = decodeFrames(path);
    EXPECT_EQ(framesAfter.status, 0);
    EXPECT_EQ(framesAfter.md5s, framesBefore.md5s)
        << "the decoded frames changed: " << framesAfter.md5s.size() << " frames, "
        << framesBefore.md5s.size() << " before";
    for (const std::string& error : framesAfter.errors)
        EXPECT_NE(std::find(framesBefore.errors.begin(), framesBefore.errors.end(), error),
                  framesBefore.errors.end())
            << "new decoder error: " << error;
    VideoProbe probe = probeVideo(path);
    EXPECT_EQ(probe.displayAspectRatio, c.displayAspectRatio);
    EXPECT_EQ(probe.averageFrameRate, c.frameRate);
}

// The five header fields that a decoder does not need to rebuild a picture, all at once.
constexpr Request decodable(int64_t aspectRatio, int64_t frameRate, int64_t constrainedParameters) {
    Request r;
    r.aspectRatio = aspectRatio;
    r.frameRate = frameRate;
    r.bitRate = 9000000;
    r.vbvBufferSize = 100;
    r.constrainedParameters = constrainedParameters;
    return r;
}

constexpr Request extensionFields(int64_t profile, int64_t level, int64_t progressiveSequence,
                                  int64_t chromaFormat) {
    Request r;
    r.profile = profile;
    r.level = level;
    r.progressiveSequence = progressiveSequence;
    r.chromaFormat = chromaFormat;
    return r;
}

constexpr Request onlyRates() {
    Request r;
    r.bitRate = 9000000;
    r.vbvBufferSize = 100;
    r.constrainedParameters = 1;
    return r;
}

constexpr Request onlyAspectAndFrameRate() {
    Request r;
    r.aspectRatio = 3;
    r.frameRate = 4;
    return r;
}

const PatchCase kCases[] = {
    // MPEG-1 aspect codes are pel aspect ratios: code 1 gives square pels, 352:288 = 11:9.
    {"Mpeg1Elementary", "mpeg1_es.m1v", decodable(1, 4, 0), "11:9", "30000/1001"},
    {"Mpeg1System", "mpeg1_system.mpg", decodable(1, 4, 0), "11:9", "30000/1001"},
    {"PalDvd", "pal_dvd_4x3.m2v", decodable(3, 4, 1), "16:9", "30000/1001"},
    {"NtscDvd", "ntsc_dvd_16x9.m2v", decodable(2, 3, 1), "4:3", "25/1"},
    {"Chroma422", "mpeg2_422.m2v", decodable(3, 4, 1), "16:9", "30000/1001"},
    // bit_rate_extension 1 and vbv_buffer_size_extension 2 must be cleared with the patch.
    {"Hd1080i150Mbit", "hd1080i_150mbit.m2v", decodable(2, 4, 1), "4:3", "30000/1001"},
    {"CustomMatrices", "custom_matrices.m2v", decodable(2, 4, 1), "4:3", "30000/1001"},
    // 25 fps scaled by 2/4+1 is 15 fps; frame_rate_extension_n/d must go with the new code.
    {"FrameRateExtension", "frame_rate_ext.m2v", decodable(3, 4, 1), "16:9", "30000/1001"},
    {"DvdProgram", "dvd_program.vob", decodable(2, 4, 1), "4:3", "30000/1001"},
    {"Transport", "transport.ts", decodable(2, 8, 1), "4:3", "60/1"},
    {"ManyGops", "many_gops.m2v", decodable(3, 4, 1), "16:9", "30000/1001"},
    // A pack header cuts the eighth header at byte 11: its aspect ratio and frame rate in byte 7
    // are patched like the others', so all 50 frames decode as before...
    {"DvdSplitAspectAndFrameRate", "dvd_split_header.vob", onlyAspectAndFrameRate(), "16:9", "30000/1001"},
    // ...while its vbv buffer size and flag reach into the pack header and stay as they are.
    {"DvdSplitRates", "dvd_split_header.vob", onlyRates(), "4:3", "25/1"},

    {"PalDvdExtension", "pal_dvd_4x3.m2v", extensionFields(1, 4, 1, 2), nullptr, nullptr},
    {"NtscDvdExtension", "ntsc_dvd_16x9.m2v", extensionFields(5, 10, 1, 3), nullptr, nullptr},
    {"Chroma422Extension", "mpeg2_422.m2v", extensionFields(4, 8, 1, 1), nullptr, nullptr},
    {"Hd1080i150MbitExtension", "hd1080i_150mbit.m2v", extensionFields(8, 5, 1, 1), nullptr, nullptr},
    {"CustomMatricesExtension", "custom_matrices.m2v", extensionFields(1, 6, 0, 2), nullptr, nullptr},
    {"DvdProgramExtension", "dvd_program.vob", extensionFields(8, 14, 1, 2), nullptr, nullptr},
    {"TransportExtension", "transport.ts", extensionFields(5, 10, 0, 3), nullptr, nullptr},
    {"DvdSplitExtension", "dvd_split_header.vob", extensionFields(8, 13, 0, 2), nullptr, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, RealStreamPatch, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PatchCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tessarwick::testing
