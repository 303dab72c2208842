#include "support/test_files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "scan/bit_field.h"
#include "scan/extension_fields.h"
#include "scan/sequence_header.h"

namespace tessarwick::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessarwick-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // A test may have left a file without permissions; give them back before removing.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path_, ignored);
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeText(const std::string& path, const std::string& text) {
    writeFile(path, Bytes(text.begin(), text.end()));
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

void putStartCode(Bytes& bytes, std::size_t offset, uint8_t code) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4);
    bytes[offset] = 0x00;
    bytes[offset + 1] = 0x00;
    bytes[offset + 2] = 0x01;
    bytes[offset + 3] = code;
}

void putSequenceHeader(Bytes& bytes, std::size_t offset, const HeaderSpec& description) {
    if (bytes.size() < offset + 12) bytes.resize(offset + 12);
    putStartCode(bytes, offset, 0xB3);
    uint8_t* header = bytes.data() + offset;
    namespace h = sequence_header;
    writeField(header, h::horizontalSizeValue, description.horizontalSize);
    writeField(header, h::verticalSizeValue, description.verticalSize);
    writeField(header, h::aspectRatioInformation, description.aspectRatio);
    writeField(header, h::frameRateCode, description.frameRate);
    writeField(header, h::bitRateValue, description.bitRateValue);
    writeField(header, h::markerBit, description.markerBit);
    writeField(header, h::vbvBufferSizeValue, description.vbvBufferSize);
    writeField(header, h::constrainedParametersFlag, description.constrainedParameters);
    header[11] = static_cast<uint8_t>((header[11] & 0xFC) | (description.lowBits & 0x03));
}

void putSequenceExtension(Bytes& bytes, std::size_t offset, const ExtensionSpec& description) {
    if (bytes.size() < offset + 10) bytes.resize(offset + 10);
    putStartCode(bytes, offset, 0xB5);
    uint8_t* extension = bytes.data() + offset;
    namespace e = sequence_extension;
    writeField(extension, e::extensionStartCodeIdentifier, description.identifier);
    writeField(extension, e::profile, description.profile);
    writeField(extension, e::level, description.level);
    writeField(extension, e::progressiveSequence, description.progressiveSequence);
    writeField(extension, e::chromaFormat, description.chromaFormat);
    writeField(extension, e::horizontalSizeExtension, description.horizontalSizeExtension);
    writeField(extension, e::verticalSizeExtension, description.verticalSizeExtension);
    writeField(extension, e::bitRateExtension, description.bitRateExtension);
    writeField(extension, e::markerBit, description.markerBit);
    writeField(extension, e::vbvBufferSizeExtension, description.vbvBufferSizeExtension);
    writeField(extension, e::lowDelay, description.lowDelay);
    writeField(extension, e::frameRateExtensionN, description.frameRateExtensionN);
    writeField(extension, e::frameRateExtensionD, description.frameRateExtensionD);
}

void putMpeg2Header(Bytes& bytes, std::size_t offset, const HeaderSpec& header,
                    const ExtensionSpec& extension) {
    putSequenceHeader(bytes, offset, header);
    putSequenceExtension(bytes, offset + 12, extension);
    putStartCode(bytes, offset + 22, 0xB8);
}

void putMpeg1Header(Bytes& bytes, std::size_t offset, const HeaderSpec& header) {
    putSequenceHeader(bytes, offset, header);
    putStartCode(bytes, offset + 12, 0xB8);
}

Bytes videoOfSize(std::size_t size) {
    Bytes bytes(size, 0x00);
    if (size >= 64) putMpeg2Header(bytes, 0);
    bytes.resize(size);
    return bytes;
}

std::vector<std::string> entriesOf(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string textOf(const std::string& path) {
    Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string joined(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) text += "[" + argument + "] ";
    return text;
}

std::string hexBytes(const Bytes& bytes, std::size_t from, std::size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = from; i < from + count; ++i) {
        if (!text.empty()) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

PatchRequest makeRequest(void (*fill)(PatchRequest&)) {
    PatchRequest request;
    if (fill != nullptr) fill(request);
    return request;
}

std::vector<std::size_t> differingOffsets(const Bytes& a, const Bytes& b) {
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) offsets.push_back(i);
    return offsets;
}

}  // namespace tessarwick::testing
