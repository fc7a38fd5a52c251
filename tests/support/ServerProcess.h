#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::testing {

// A copy of quorvel-server run as a child process: its standard output and error are collected,
// its standard input is /dev/null or a pseudo-terminal, and NOTIFY_SOCKET points at a socket of
// the test so that what it tells systemd can be read back.
class ServerProcess {
public:
    struct Options {
        std::vector<std::string> arguments;
        std::vector<std::string> environment;   // "KEY=VALUE", added to the test's own
        bool terminal = false;
    };

    ServerProcess(const std::filesystem::path& executable, const Options& options);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Reads output until `text` has appeared in standard error (or on the terminal) `count`
    // times; false when the process ended first or a generous safety limit passed.
    bool WaitForError(std::string_view text, int count = 1) { return WaitFor(err_, text, count, std::chrono::seconds(20)); }
    bool WaitForTerminal(std::string_view text, int count = 1,
                         std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        return WaitFor(terminal_, text, count, limit);
    }

    void Signal(int signal) const;
    void Type(std::string_view keys) const;
    // Waits for the end (a process still running after the safety limit is killed); the exit
    // status, or 128 + the signal that ended it.
    int Wait();

    const std::string& Output() const { return out_; }
    const std::string& Errors() const { return err_; }
    // Everything the process has told systemd so far, one message a line.
    std::string Notifications() const;

private:
    bool WaitFor(const std::string& stream, std::string_view text, int count, std::chrono::milliseconds limit);
    bool Pump();

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int terminalFd_ = -1;
    int notifyFd_ = -1;
    std::filesystem::path notifyPath_;
    std::string out_, err_, terminal_;
};

// Reads `path` until it holds `text` `count` times; false after the safety limit.
bool WaitForFileText(const std::filesystem::path& path, std::string_view text, int count = 1);

}  // namespace quorvel::testing
