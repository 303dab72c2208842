#include "scan/header_fields.h"

#include <iterator>

namespace tessarwick {

constexpr CodeNames flagNames{{"0 (false)", "1 (true)"}, ""};

namespace {

constexpr std::string_view notPatchedText = " -> not patched";
constexpr std::string_view patchedToText = " -> patched to ";

constexpr std::string_view sequenceHeaderFoundText = "+ Sequenceheader found at ";

// aspect_ratio_information: the display aspect ratio (MPEG-2) of the picture.
constexpr CodeNames aspectRatioNames{
    {"", "1 (1:1)", "2 (4:3)", "3 (16:9)", "4 (2.21:1)"},
    " (unknown a/r)",
};

// frame_rate_code: pictures per second.
constexpr CodeNames frameRateNames{
    {"", "1 (23.976 fps)", "2 (24 fps)", "3 (25 fps)", "4 (29.97 fps)", "5 (30 fps)", "6 (50 fps)",
     "7 (59.94 fps)", "8 (60 fps)"},
    " (unknown fps)",
};

namespace h = sequence_header;

// The seven fields in the order of their report lines, which is also their bitstream
// order. bit_rate_value counts 400 bit/s, the report 100 bit/s: hence the shift by 2.
enum HeaderFieldIndex {
    horizontalSizeIndex,
    verticalSizeIndex,
    aspectRatioIndex,
    frameRateIndex,
    bitRateIndex,
    vbvBufferSizeIndex,
    constrainedIndex,
};
constexpr PatchableField headerFields[] = {
    {"  horizontal size       : ", ValueForm::pixels, nullptr, h::horizontalSizeValue, 0,
     &RunCounters::horizontalSizePatched},
    {"  vertical size         : ", ValueForm::pixels, nullptr, h::verticalSizeValue, 0,
     &RunCounters::verticalSizePatched},
    {"  aspect ratio          : ", ValueForm::named, &aspectRatioNames, h::aspectRatioInformation, 0,
     &RunCounters::aspectRatioPatched},
    {"  frame rate            : ", ValueForm::named, &frameRateNames, h::frameRateCode, 0,
     &RunCounters::frameRatePatched},
    {"  bit rate              : ", ValueForm::hundredBitsPerSecond, nullptr, h::bitRateValue, 2,
     &RunCounters::bitRatePatched},
    {"  vbv buffer size       : ", ValueForm::bufferSize, nullptr, h::vbvBufferSizeValue, 0,
     &RunCounters::vbvBufferSizePatched},
    {"  constrained parameters: ", ValueForm::named, &flagNames, h::constrainedParametersFlag, 0,
     &RunCounters::constrainedParametersPatched},
};
static_assert(std::size(headerFields) == constrainedIndex + 1);

void writeCodeName(ReportSink& sink, const CodeNames& names, uint32_t code) {
    if (code < std::size(names.names) && !names.names[code].empty()) {
        writeText(sink, names.names[code]);
    } else {
        writeUnsigned(sink, code);
        writeText(sink, names.unknownSuffix);
    }
}

void writeValue(ReportSink& sink, const PatchableField& field, uint32_t value) {
    switch (field.form) {
        case ValueForm::pixels:
            writeUnsigned(sink, value);
            writeText(sink, " px");
            break;
        case ValueForm::hundredBitsPerSecond:
            writeUnsigned(sink, value);
            writeText(sink, "00 bps");
            break;
        case ValueForm::bufferSize:  // at most 1023 units, so twice the value fits easily
            writeUnsigned(sink, value);
            writeText(sink, " (");
            writeSigned(sink, static_cast<int32_t>(2 * value));
            writeText(sink, " kB)");
            break;
        case ValueForm::named:
            writeCodeName(sink, *field.names, value);
            break;
    }
}

}  // namespace

bool reportAndPatchField(ReportSink& sink, RunCounters& counters, uint8_t* bytes, const PatchableField& field,
                         uint32_t current, RequestedValue requested) {
    writeText(sink, field.label);
    writeValue(sink, field, current);
    const bool patch = requested.given && requested.value != current;
    if (patch) {
        ++(counters.*field.patchCounter);  // 16 bits, wraps from 65535 to 0
        writeText(sink, patchedToText);
        writeValue(sink, field, requested.value);
        writeField(bytes, field.bits, requested.value >> field.unitShift);
    } else {
        writeText(sink, notPatchedText);
    }
    endLine(sink);
    return patch;
}

void writeFoundLine(ReportSink& sink, std::string_view foundText, uint64_t fileOffset) {
    writeText(sink, foundText);
    writeUnsigned64(sink, fileOffset);
    writeText(sink, " (");
    writeText(sink, hexText(fileOffset).view());
    writeText(sink, "h)");
    endLine(sink);
}

void processSequenceHeader(ScanWindow& window, std::size_t headerOffset, const SequenceHeaderFields& fields,
                           ScanRun& run, HeaderPatchState& state) {
    ++run.counters.headersFound;
    state = HeaderPatchState{};

    // The offset shown is that of header byte 4, just past the start code.
    const uint64_t headerStart = static_cast<uint64_t>(window.firstBlock) * blockSize + headerOffset;
    writeFoundLine(run.report, sequenceHeaderFoundText, headerStart + 4);

    const PatchRequest& request = run.request;
    const uint32_t current[] = {
        fields.horizontalSize, fields.verticalSize,  fields.aspectRatio,          fields.frameRate,
        fields.bitRate,        fields.vbvBufferSize, fields.constrainedParameters};
    const RequestedValue requested[] = {
        requestedValue(request.horizontalSize),
        requestedValue(request.verticalSize),
        requestedValue(request.aspectRatio),
        requestedValue(request.frameRate),
        requestedValue(request.bitRate),
        requestedValue(request.vbvBufferSize),
        requestedFlag(request.constrainedParameters),
    };
    bool patched[std::size(headerFields)];
    uint8_t* header = window.bytes + headerOffset;
    const std::size_t ownBytes = ownHeaderBytes(header);
    for (std::size_t i = 0; i < std::size(headerFields); ++i) {
        // A field that reaches into a packet header cutting this header is not patched: its
        // bytes there are the container's.
        const BitField bits = headerFields[i].bits;
        const bool insideHeader = (bits.firstBit + bits.width - 1u) / 8u < ownBytes;
        patched[i] = reportAndPatchField(run.report, run.counters, header, headerFields[i], current[i],
                                         insideHeader ? requested[i] : RequestedValue{false, 0});
        if (patched[i]) state.headerChanged = true;
    }
    if (state.headerChanged) ++run.counters.headersPatched;

    // In MPEG-2 these fields have high-order bits in the sequence extension, which are
    // cleared there once the extension has been found.
    state.horizontalSizePatched = patched[horizontalSizeIndex];
    state.verticalSizePatched = patched[verticalSizeIndex];
    state.frameRatePatched = patched[frameRateIndex];
    state.bitRatePatched = patched[bitRateIndex];
    state.vbvBufferSizePatched = patched[vbvBufferSizeIndex];
}

}  // namespace tessarwick
