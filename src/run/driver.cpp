#include "run/driver.h"

#include <string_view>

#include "platform/platform.h"
#include "report/report_sink.h"
#include "report/run_summary.h"
#include "run/parameter_echo.h"
#include "run/patch_request.h"
#include "scan/run_counters.h"
#include "scan/scan_window.h"

namespace tessarwick {

namespace {

constexpr std::string_view buildText = "2017.04.14";

// Shown when the program is started without any argument.
constexpr std::string_view usageText =
    "Tessarwick build 2017.04.14\r\n"
    "changes video basics in mpg-video files\r\n"
    "patches video headers only, does no reencoding\r\n"
    ": /f=filename (mpg-video file)\r\n"
    ": /hs=horizontal size (px | multiple of 8)\r\n"
    ": /vs=vertical size (px | multiple of 8)\r\n"
    ": /ar=aspect ratio (1=1:1 2=4:3 3=16:9 4=2.21:1)\r\n"
    ": /fr=frame rate (1=23.976 2=24 3=25 4=29.97 5=30 6=50 7=59.94 8=60 fps)\r\n"
    ": /br=bit rate (bps | multiple of 400)\r\n"
    ": /vbv=vbv buffer size (2 kByte/unit)\r\n"
    ": /cp=constrained parameters (0=false 1=true)\r\n"
    ": /pr=profile (1=HP 2=SPT 3=SNR 4=MP 5=SP 8=Escape P@L, see level)\r\n"
    ": /lv=level (2=HPL 4=HL 6=H-14 8=ML 10=LL)\r\n"
    "   (Escape P@L: 2=422P@HL 5=422P@ML 10=MVP@HL 11=MVP@H-14 13=MVP@ML 14=MVP@LL)\r\n"
    ": /ps=progressiv sequence (0=false 1=true)\r\n"
    ": /cs=chroma subsampling (1=4:2:0 2=4:2:2 3=4:4:4)\r\n"
    ": /all (patch all headers instead of first header only)\r\n"
    ": /log (write logfile)\r\n"
    "example: Tessarwick /f=video.mpg /log\r\n"
    "         writes logfile only, nothing patched\r\n"
    "example: Tessarwick /f=video.mpg /ar=3 /br=9000000 /log\r\n"
    "         patches aspect ratio to 3 (16:9), bit rate to 9000000 bps, wrt. logf.\r\n"
    "example: Tessarwick /f=video.mpg /hs=720 /vs=576 /all\r\n"
    "         patches horizontal size to 720 px, vertical size to 576 px, all hdrs.\r\n";

constexpr std::string_view headerLinePrefix = "# Tessarwick build ";
constexpr std::string_view fileLinePrefix = "* File: ";
constexpr std::string_view noFileNameLine = "# Terminating due to no filename given";
constexpr std::string_view illegalFileNameLine = "# Terminating due to illegal filename given";
constexpr std::string_view fileTooSmallLine =
    "# Terminating due to file to small (maybe not an mpg-video file?)";
constexpr std::string_view illegalParameterLine = "# Terminating due to illegal parameter(s) given";

// The scan needs a whole block to search and a whole block of look-ahead beyond it, and a
// file this short holds no MPEG video anyway.
constexpr uint64_t minimumBlockCount = 3;

int terminate(ReportSink& report, std::string_view line, int status) {
    writeText(report, line);
    endLine(report);
    closeReportSink(report);
    return status;
}

}  // namespace

int runDriver(const std::vector<std::string>& arguments, uint32_t startTick) {
    if (arguments.empty()) {
        platform::writeStandardOutput(usageText);
        return statusFinished;
    }

    PatchRequest request;
    parseOptions(request, arguments);

    ReportSink report;
    if (!openReportSink(report, request.writeLog, request.fileName)) return statusCannotCreateReport;
    writeText(report, headerLinePrefix);
    writeText(report, buildText);
    endLine(report);

    if (request.fileName.empty()) return terminate(report, noFileNameLine, statusNoFileName);
    writeText(report, fileLinePrefix);
    writeText(report, request.fileName);
    endLine(report);

    platform::FileHandle videoFile;
    if (!platform::openVideoFile(request.fileName, videoFile))
        return terminate(report, illegalFileNameLine, statusCannotOpenFile);
    uint64_t startSizeBytes = platform::fileSizeBytes(videoFile);
    if (startSizeBytes / blockSize < minimumBlockCount) {
        platform::closeVideoFile(videoFile);
        return terminate(report, fileTooSmallLine, statusFileTooSmall);
    }

    if (echoAndValidate(request, report)) {
        platform::closeVideoFile(videoFile);  // opened and measured, never read or written
        return terminate(report, illegalParameterLine, statusIllegalParameter);
    }
    normaliseRequest(request);

    RunCounters counters;
    ScanRun run{request, report, counters};
    uint64_t fileSizeBytes = scanVideoFile(videoFile, startSizeBytes, run);

    writeRunSummary(report, counters, request.patchAll, startTick, fileSizeBytes);
    closeReportSink(report);
    return statusFinished;
}

}  // namespace tessarwick
