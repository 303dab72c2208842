// Runs the real tessarwick binary (or any program) and captures what it did.
#pragma once

#include <string>
#include <vector>

namespace tessarwick::testing {

struct RunResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string standardOutput;
    std::string standardError;
};

// Runs the tool with `arguments` in `workingDirectory`; standard input is /dev/null.
RunResult runTool(const std::vector<std::string>& arguments, const std::string& workingDirectory);

// Runs any program found on PATH (or by path), the same way.
RunResult runProgram(const std::vector<std::string>& commandLine, const std::string& workingDirectory);

// Whether `program` can be found on PATH.
bool programAvailable(const std::string& program);

// The report text with CR LF line endings joined from `lines`.
std::string reportText(const std::vector<std::string>& lines);

// Lines of a CR LF report, without their line ends.
std::vector<std::string> reportLines(const std::string& report);

}  // namespace tessarwick::testing
