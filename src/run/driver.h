// The order of a run, from the command line to the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessarwick {

// Exit statuses of refused runs; any other non-zero status is a run-time error's number.
enum ExitStatus : int {
    statusFinished = 0,
    statusNoFileName = 1,
    statusCannotOpenFile = 2,
    statusFileTooSmall = 4,
    statusCannotCreateReport = 8,
    statusIllegalParameter = 16,
};

// Shows the usage text without arguments; otherwise runs the whole sequence and answers
// the exit status. A failed I/O call ends the process from inside instead.
int runDriver(const std::vector<std::string>& arguments, uint32_t startTick);

}  // namespace tessarwick
