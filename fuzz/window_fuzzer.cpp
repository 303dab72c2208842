// Feeds arbitrary bytes to the whole scan of a file: the first bytes choose the request and
// the read size, the rest is the file. Whatever the bytes, the scan must stay inside its
// buffers and keep the file's length.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "report/report_sink.h"
#include "scan/scan_window.h"

using namespace tessarwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    PatchRequest request;
    request.patchAll = (data[0] & 1) != 0;
    request.aspectRatio = data[1] & 0x0F;
    request.frameRate = data[1] >> 4;
    request.horizontalSize = static_cast<uint16_t>((data[2] << 4) & 0xFF8);
    request.bitRate = static_cast<uint32_t>(data[3]) << 10;
    request.profile = data[4] % 9;
    request.level = data[5] & 0x0F;
    request.chromaFormat = data[6] & 3;
    request.progressiveSequence = data[7] % 3;
    std::size_t blocksPerRead = 1 + data[0] % 3;
    data += 8;
    size -= 8;

    static std::string path;
    if (path.empty()) {
        char name[] = "/tmp/tessarwick-fuzz-XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0) std::abort();
        close(fd);
        path = name;
    }
    // Short inputs are repeated to reach the three blocks a run needs at least.
    std::string file;
    if (size == 0) return 0;
    while (file.size() < 3 * blockSize) file.append(reinterpret_cast<const char*>(data), size);
    FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);

    ReportSink report;
    openReportSink(report, false, "");
    platform::FileHandle handle;
    if (!platform::openVideoFile(path, handle)) std::abort();
    RunCounters counters;
    ScanRun run{request, report, counters};
    uint64_t sizeAfter = scanVideoFile(handle, file.size(), run, blocksPerRead);
    closeReportSink(report);
    if (sizeAfter != file.size()) std::abort();
    return 0;
}
