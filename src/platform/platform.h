// What the program needs from the operating system. One implementation file per
// platform (platform_posix.cpp, platform_win32.cpp); nothing else includes a system
// header of one platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessarwick::platform {

// Milliseconds since system start, wrapping after 2^32 ms (as GetTickCount counts).
uint32_t tickMilliseconds();

// Lowers the scheduling priority of the process and of the running thread to below
// normal. The result is not checked: a refusal leaves the run at its priority.
void lowerPriority();

// The command-line arguments after the program's own name, in order, each cut to its
// first 255 bytes. POSIX hands them over split; Windows hands one text to split.
void collectArguments(int argc, char** argv, std::vector<std::string>& arguments);

// Writes the usage text to standard output; a failed write ends the run with 101.
void writeStandardOutput(std::string_view text);

// The name of the device that discards everything written to it.
std::string_view nullDeviceName();

// An open file: the video file or the report target.
struct FileHandle {
    intptr_t value = -1;
};

// Opens an existing video file for reading and writing, held against other writers
// for as long as it is open. Answers false for anything that is not an existing,
// writable, regular file that nobody else holds; nothing is created then.
bool openVideoFile(std::string_view name, FileHandle& file);

// Size of an open file in bytes.
uint64_t fileSizeBytes(FileHandle file);

// Tells the kernel the file is read from start to end once.
void adviseSequentialRead(FileHandle file);

// Outcome of a read of several blocks: how many bytes arrived before the read stopped,
// and 0 or the run-time error status that ends the run once those bytes are handled.
struct ReadOutcome {
    size_t bytesRead = 0;
    int failureStatus = 0;
};

// Reads up to `size` bytes from the current position into `buffer`, going on after a
// partial read. Fewer bytes than asked is a short read (status 100); a failing call gives
// its own status. It never ends the run itself, so the caller can handle what arrived.
ReadOutcome readFully(FileHandle file, uint8_t* buffer, size_t size);

// Writes `size` bytes at byte `offset` without moving the read position; a failure or a
// short write (101) ends the run.
void writeAt(FileHandle file, uint64_t offset, const uint8_t* data, size_t size);

// Closes the video file; a failure ends the run.
void closeVideoFile(FileHandle file);

// Creates or truncates the report file (or opens the null device) for writing.
bool createReportFile(std::string_view name, FileHandle& file);

// Writes report bytes out; any failure, short writes included, ends the run with 101.
void writeReport(FileHandle file, const char* data, size_t size);

// Closes the report target; a failure ends the run with 101.
void closeReport(FileHandle file);

// Ends the process at once after a failed I/O operation: a "Runtime error" line with the
// status and the code address, a short stack trace and an empty line on standard error,
// then the exit status. Nothing is flushed or closed.
[[noreturn]] void failRun(int status);

}  // namespace tessarwick::platform
