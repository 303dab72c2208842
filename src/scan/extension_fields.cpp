#include "scan/extension_fields.h"

#include <algorithm>
#include <iterator>

#include "scan/header_fields.h"

namespace tessarwick {

namespace {

// extension_start_code 00 00 01 B5 with extension_start_code_identifier 1 (0001).
constexpr uint8_t extensionStartCode = 0xB5;
constexpr uint32_t sequenceExtensionIdentifier = 1;

// The last extension byte that is reported or patched.
constexpr std::size_t lastFieldByte = 5;

constexpr std::string_view sequenceExtensionFoundText = "+ Sequence extension found at ";

// The upper four bits of profile_and_level_indication: the escape bit, then the profile.
constexpr CodeNames profileNames{
    {"", "1 (HP)", "2 (SPT)", "3 (SNR)", "4 (MP)", "5 (SP)", "", "", "8 (Escape P@L, see level)"},
    " (unknown profile)",
};

// The lower four bits of profile_and_level_indication, for the profiles 1 to 5.
constexpr CodeNames levelNames{
    {"", "", "2 (HPL)", "", "4 (HL)", "", "6 (H-14)", "", "8 (ML)", "", "10 (LL)"},
    " (unknown level)",
};

// With the escape bit set the four bits name a profile and level together (4:2:2 and
// multi-view profiles).
constexpr CodeNames escapeLevelNames{
    {"", "", "2 (422P@HL)", "", "", "5 (422P@ML)", "", "", "", "", "10 (MVP@HL)", "11 (MVP@H-14)", "",
     "13 (MVP@ML)", "14 (MVP@LL)"},
    " (unknown P@L)",
};
constexpr uint8_t firstEscapeProfile = 8;

// chroma_format; code 0 is reserved.
constexpr CodeNames chromaNames{{"", "1 (4:2:0)", "2 (4:2:2)", "3 (4:4:4)"}, " (reserved)"};

namespace e = sequence_extension;

// The four fields in the order of their report lines. The level's names follow the
// profile; the table here is the one for profiles below 8.
enum ExtensionFieldIndex { profileIndex, levelIndex, progressiveIndex, chromaIndex };
constexpr PatchableField extensionFields[] = {
    {"  profile               : ", ValueForm::named, &profileNames, e::profile, 0,
     &RunCounters::profilePatched},
    {"  level                 : ", ValueForm::named, &levelNames, e::level, 0, &RunCounters::levelPatched},
    {"  progressive sequence  : ", ValueForm::named, &flagNames, e::progressiveSequence, 0,
     &RunCounters::progressiveSequencePatched},
    {"  chroma subsampling    : ", ValueForm::named, &chromaNames, e::chromaFormat, 0,
     &RunCounters::chromaFormatPatched},
};
static_assert(std::size(extensionFields) == chromaIndex + 1);

// A decoder builds horizontal size, vertical size, bit rate and vbv buffer size from the
// header's bits and high-order bits in the extension, and scales the frame rate by
// frame_rate_extension_n and _d. Once the header's bits are patched, old extension bits
// would keep the old value alive, so they are cleared. Only a well-formed extension, whose
// marker bit is set, is touched, so that the bytes after a cut-off one stay as they are.
void clearStaleExtensionBits(uint8_t* extension, const HeaderPatchState& state) {
    if (readField(extension, e::markerBit) != 1) return;
    if (state.horizontalSizePatched) writeField(extension, e::horizontalSizeExtension, 0);
    if (state.verticalSizePatched) writeField(extension, e::verticalSizeExtension, 0);
    if (state.bitRatePatched) writeField(extension, e::bitRateExtension, 0);
    if (state.vbvBufferSizePatched) writeField(extension, e::vbvBufferSizeExtension, 0);
    if (state.frameRatePatched) {
        writeField(extension, e::frameRateExtensionN, 0);
        writeField(extension, e::frameRateExtensionD, 0);
    }
}

}  // namespace

void processSequenceExtension(ScanWindow& window, std::size_t headerOffset, uint16_t nextStartDistance,
                              ScanRun& run, HeaderPatchState& state) {
    const std::size_t extensionOffset = headerOffset + nextStartDistance;
    // At the end of a file the window is filled up with 00 bytes that are never written
    // back; an extension cut off there is not taken, so no patch is claimed that cannot
    // reach the file.
    if (extensionOffset + lastFieldByte >= window.bytesInFile) return;
    uint8_t* extension = window.bytes + extensionOffset;
    if (extension[3] != extensionStartCode ||
        readField(extension, e::extensionStartCodeIdentifier) != sequenceExtensionIdentifier)
        return;  // another start code, as in an MPEG-1 stream, or another extension

    SequenceExtensionFields extensionValues;
    extensionValues.profile = static_cast<uint8_t>(readField(extension, e::profile));
    extensionValues.level = static_cast<uint8_t>(readField(extension, e::level));
    extensionValues.progressiveSequence = static_cast<uint8_t>(readField(extension, e::progressiveSequence));
    extensionValues.chromaFormat = static_cast<uint8_t>(readField(extension, e::chromaFormat));

    ++run.counters.extensionsFound;
    // The offset shown is that of extension byte 4, just past the start code.
    const uint64_t extensionStart = static_cast<uint64_t>(window.firstBlock) * blockSize + extensionOffset;
    writeFoundLine(run.report, sequenceExtensionFoundText, extensionStart + 4);

    const PatchRequest& request = run.request;
    const uint32_t current[] = {extensionValues.profile, extensionValues.level,
                                extensionValues.progressiveSequence, extensionValues.chromaFormat};
    const RequestedValue requested[] = {
        requestedValue(request.profile),
        requestedValue(request.level),
        requestedFlag(request.progressiveSequence),
        requestedValue(request.chromaFormat),
    };
    PatchableField fields[std::size(extensionFields)];
    std::copy(std::begin(extensionFields), std::end(extensionFields), fields);
    // A requested profile decides how the level reads, whether the profile is patched or not.
    const uint8_t levelProfile = request.profile != 0 ? request.profile : extensionValues.profile;
    if (levelProfile >= firstEscapeProfile) fields[levelIndex].names = &escapeLevelNames;

    bool changed = false;
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (reportAndPatchField(run.report, run.counters, extension, fields[i], current[i], requested[i]))
            changed = true;
    }
    if (changed) {
        state.extensionChanged = true;
        ++run.counters.extensionsPatched;
    }

    clearStaleExtensionBits(extension, state);
}

}  // namespace tessarwick
