// A real report file in a temporary directory, read back as bytes once it is closed, so
// that in-process tests compare exactly what a run would leave on disk.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/report_sink.h"
#include "support/test_files.h"

namespace tessarwick::testing {

class ReportCapture {
  public:
    ReportCapture() : videoFile_(dir_.file("clip.mpg")) { opened_ = openReportSink(sink, true, videoFile_); }
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    bool opened() const { return opened_; }

    // Closes the sink and answers the whole report file.
    std::string close() {
        closeReportSink(sink);
        Bytes bytes = readFile(videoFile_ + "-Tessarwick.log");
        return std::string(bytes.begin(), bytes.end());
    }

    ReportSink sink;

  private:
    TempDir dir_;
    std::string videoFile_;
    bool opened_ = false;
};

// Report lines as they stand in the file: each one ended by CR LF.
inline std::string reportLines(const std::vector<std::string_view>& lines) {
    std::string text;
    for (std::string_view line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace tessarwick::testing
