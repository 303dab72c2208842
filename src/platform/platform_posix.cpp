// Linux and other POSIX systems.
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"

namespace tessarwick::platform {

namespace {

// Fixed numbers of the run-time errors that are not a system call's own failure.
constexpr int shortReadStatus = 100;
constexpr int shortWriteStatus = 101;
constexpr int reportWriteStatus = 101;

enum class CallKind { read, write, other };

// The status of a failed call: errno read as the Windows error it stands for, then
// re-mapped so that every status fits the 8 bits a POSIX exit status has and is never 0.
int statusForError(int error, CallKind kind) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return 101;  // disk full
        case EROFS:
            return 150;  // write-protected medium
        case EIO:
            return kind == CallKind::read ? 161 : kind == CallKind::write ? 160 : 162;
        case ENXIO:
        case ENODEV:
            return 152;  // device not ready
        case ESPIPE:
            return 156;  // seek error
        case EACCES:
        case EPERM:
        case EBUSY:
        case ETXTBSY:
        case EEXIST:
        case ENOTEMPTY:
        case EAGAIN:
            return 5;  // access denied
        case ENAMETOOLONG:
            return 3;
        case EBADF:
            return 6;  // invalid handle
        case ENOMEM:
            return 8;
        case EINVAL:
            return 87;  // invalid parameter
        default:
            return 162;  // general failure
    }
}

int descriptor(FileHandle file) { return static_cast<int>(file.value); }

// Copies a name into a NUL-terminated buffer; names are at most 255 characters.
struct PathText {
    char characters[1024];
    explicit PathText(std::string_view name) {
        std::size_t length = name.size() < sizeof characters - 1 ? name.size() : sizeof characters - 1;
        std::memcpy(characters, name.data(), length);
        characters[length] = '\0';
    }
};

void writeError(const char* text, std::size_t length) {
    ssize_t ignored = write(2, text, length);
    (void)ignored;
}

// "0x" and 16 upper-case hexadecimal digits.
std::size_t addressText(const void* address, char* out) {
    static const char digits[] = "0123456789ABCDEF";
    uintptr_t value = reinterpret_cast<uintptr_t>(address);
    out[0] = '0';
    out[1] = 'x';
    for (int i = 0; i < 16; ++i) out[2 + i] = digits[(value >> (60 - 4 * i)) & 0xF];
    return 18;
}

}  // namespace

uint32_t tickMilliseconds() {
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t milliseconds =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(milliseconds);  // wraps like GetTickCount
}

void lowerPriority() {
    // Below normal: ten steps nicer than now. Refused or not, the run goes on.
    errno = 0;
    int niceness = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) setpriority(PRIO_PROCESS, 0, niceness + 10);
}

void collectArguments(int argc, char** argv, std::vector<std::string>& arguments) {
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        arguments.emplace_back(argument.substr(0, 255));
    }
}

void writeStandardOutput(std::string_view text) {
    ssize_t written = write(1, text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size())) failRun(reportWriteStatus);
}

std::string_view nullDeviceName() { return "/dev/null"; }

bool openVideoFile(std::string_view name, FileHandle& file) {
    PathText path(name);
    // Non-blocking, so that opening a FIFO can never hang the run; it is refused below.
    int fd = open(path.characters, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    // A file without any write permission bit is one its owner marked read-only: even
    // root, who may write it, must not patch it.
    bool acceptable = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & 0222) != 0;
    if (acceptable) {
        // Held for the whole run, so that two runs on one file never interleave writes.
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        acceptable = fcntl(fd, F_OFD_SETLK, &lock) == 0;
    }
    if (acceptable) {
        int flags = fcntl(fd, F_GETFL);
        acceptable = flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    }
    if (!acceptable) {
        close(fd);
        return false;
    }
    file.value = fd;
    return true;
}

uint64_t fileSizeBytes(FileHandle file) {
    struct stat status {};
    if (fstat(descriptor(file), &status) != 0) failRun(statusForError(errno, CallKind::other));
    return static_cast<uint64_t>(status.st_size);
}

void adviseSequentialRead(FileHandle file) { posix_fadvise(descriptor(file), 0, 0, POSIX_FADV_SEQUENTIAL); }

ReadOutcome readFully(FileHandle file, uint8_t* buffer, size_t size) {
    ReadOutcome outcome;
    while (outcome.bytesRead < size) {
        ssize_t got = read(descriptor(file), buffer + outcome.bytesRead, size - outcome.bytesRead);
        if (got < 0) {
            outcome.failureStatus = statusForError(errno, CallKind::read);
            return outcome;
        }
        if (got == 0) {
            outcome.failureStatus = shortReadStatus;  // the file ended early
            return outcome;
        }
        outcome.bytesRead += static_cast<size_t>(got);
    }
    return outcome;
}

void writeAt(FileHandle file, uint64_t offset, const uint8_t* data, size_t size) {
    ssize_t written = pwrite(descriptor(file), data, size, static_cast<off_t>(offset));
    if (written < 0) failRun(statusForError(errno, CallKind::write));
    if (static_cast<size_t>(written) != size) failRun(shortWriteStatus);
}

void closeVideoFile(FileHandle file) {
    if (close(descriptor(file)) != 0) failRun(statusForError(errno, CallKind::other));
}

bool createReportFile(std::string_view name, FileHandle& file) {
    PathText path(name);
    int fd = open(path.characters, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    file.value = fd;
    return true;
}

void writeReport(FileHandle file, const char* data, size_t size) {
    ssize_t written = write(descriptor(file), data, size);
    if (written != static_cast<ssize_t>(size)) failRun(reportWriteStatus);
}

void closeReport(FileHandle file) {
    if (close(descriptor(file)) != 0) failRun(reportWriteStatus);
}

[[noreturn]] __attribute__((noinline)) void failRun(int status) {
    void* frames[12];
    int frameCount = backtrace(frames, 12);
    char line[64];
    std::size_t length = 0;
    const char prefix[] = "Runtime error ";
    std::memcpy(line, prefix, sizeof prefix - 1);
    length = sizeof prefix - 1;
    char digits[12];
    int digitCount = 0;
    unsigned value = static_cast<unsigned>(status);
    do {
        digits[digitCount++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (digitCount > 0) line[length++] = digits[--digitCount];
    std::memcpy(line + length, " at ", 4);
    length += 4;
    // The code that failed: the caller of this function.
    length += addressText(frameCount > 1 ? frames[1] : __builtin_return_address(0), line + length);
    line[length++] = '\n';
    writeError(line, length);
    for (int i = 1; i < frameCount; ++i) {
        line[0] = ' ';
        line[1] = ' ';
        length = 2 + addressText(frames[i], line + 2);
        line[length++] = '\n';
        writeError(line, length);
    }
    writeError("\n", 1);
    _exit(status);
}

}  // namespace tessarwick::platform
