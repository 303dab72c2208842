// Small files built from a readable description: a sequence header with these fields at
// this offset, an extension after it, and a temporary directory to hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "run/patch_request.h"

namespace tessarwick::testing {

using Bytes = std::vector<uint8_t>;

// A directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
void writeText(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);

// Field values as they stand in the bitstream (bit_rate_value in units of 400 bit/s).
struct HeaderSpec {
    uint16_t horizontalSize = 720;
    uint16_t verticalSize = 576;
    uint8_t aspectRatio = 2;
    uint8_t frameRate = 3;
    uint32_t bitRateValue = 24500;  // 9.8 Mbit/s
    uint8_t markerBit = 1;
    uint16_t vbvBufferSize = 112;
    uint8_t constrainedParameters = 0;
    uint8_t lowBits = 0;  // bits 1-0 of byte 11 (the quantiser matrix flags)
};

struct ExtensionSpec {
    uint8_t identifier = 1;
    uint8_t profile = 4;  // Main
    uint8_t level = 8;    // Main
    uint8_t progressiveSequence = 0;
    uint8_t chromaFormat = 1;  // 4:2:0
    uint8_t horizontalSizeExtension = 0;
    uint8_t verticalSizeExtension = 0;
    uint16_t bitRateExtension = 0;
    uint8_t markerBit = 1;
    uint8_t vbvBufferSizeExtension = 0;
    uint8_t lowDelay = 0;
    uint8_t frameRateExtensionN = 0;
    uint8_t frameRateExtensionD = 0;
};

// Writes the 12 bytes of a sequence header (00 00 01 B3 ...) at `offset`.
void putSequenceHeader(Bytes& bytes, std::size_t offset, const HeaderSpec& description = {});
// Writes the 10 bytes of a sequence extension (00 00 01 B5 ...) at `offset`.
void putSequenceExtension(Bytes& bytes, std::size_t offset, const ExtensionSpec& description = {});
// Writes a start code 00 00 01 `code` at `offset`.
void putStartCode(Bytes& bytes, std::size_t offset, uint8_t code);

// An MPEG-2 header at `offset`, its extension right after it, then a GOP start code.
void putMpeg2Header(Bytes& bytes, std::size_t offset, const HeaderSpec& header = {},
                    const ExtensionSpec& extension = {});
// An MPEG-1 header at `offset` followed by a GOP start code.
void putMpeg1Header(Bytes& bytes, std::size_t offset, const HeaderSpec& header = {});

// A video file of `size` bytes with an MPEG-2 sequence header at offset 0 (aspect ratio
// code 2), so that a run which wrongly went on to patch /ar=3 would change the file.
Bytes videoOfSize(std::size_t size);

// The names in a directory, sorted.
std::vector<std::string> entriesOf(const std::string& directory);

// A whole file as text.
std::string textOf(const std::string& path);

// Arguments as "[a] [b] ", for failure messages.
std::string joined(const std::vector<std::string>& arguments);

// `count` bytes from `from` as upper-case hexadecimal pairs: "2D 02 40".
std::string hexBytes(const Bytes& bytes, std::size_t from, std::size_t count);

// A request filled in by `fill` (nothing requested when it is null), for tables of cases.
PatchRequest makeRequest(void (*fill)(PatchRequest&));

// The file offsets at which `a` and `b` differ (both of the same size).
std::vector<std::size_t> differingOffsets(const Bytes& a, const Bytes& b);

}  // namespace tessarwick::testing
