#include "support/run_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace tessarwick::testing {

namespace {

// Reads both pipes to their end without letting either fill up and block the child.
void drain(int outputPipe, int errorPipe, std::string& output, std::string& error) {
    pollfd fds[2] = {{outputPipe, POLLIN, 0}, {errorPipe, POLLIN, 0}};
    std::string* targets[2] = {&output, &error};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                targets[i]->append(buffer, static_cast<std::size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

}  // namespace

RunResult runProgram(const std::vector<std::string>& commandLine, const std::string& workingDirectory) {
    int outputPipe[2];
    int errorPipe[2];
    if (pipe(outputPipe) != 0 || pipe(errorPipe) != 0) throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outputPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errorPipe[0]);
    posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());

    std::vector<char*> argv;
    for (const std::string& argument : commandLine) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t child = 0;
    int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outputPipe[1]);
    close(errorPipe[1]);

    RunResult result;
    if (spawned != 0) {
        close(outputPipe[0]);
        close(errorPipe[0]);
        result.standardError = "cannot start " + commandLine[0];
        return result;
    }
    drain(outputPipe[0], errorPipe[0], result.standardOutput, result.standardError);
    int waitStatus = 0;
    waitpid(child, &waitStatus, 0);
    result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    return result;
}

RunResult runTool(const std::vector<std::string>& arguments, const std::string& workingDirectory) {
    std::vector<std::string> commandLine{TESSARWICK_BINARY};
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    return runProgram(commandLine, workingDirectory);
}

bool programAvailable(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string directories = path;
    std::size_t start = 0;
    while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        std::string candidate = directories.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

std::string reportText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

std::vector<std::string> reportLines(const std::string& report) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < report.size()) {
        std::size_t end = report.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(report.substr(start));
            break;
        }
        lines.push_back(report.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace tessarwick::testing
