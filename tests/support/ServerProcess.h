#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::testing {

// quorvel-server as a child process: its standard output and error go to files beside the
// executable, its standard input is /dev/null or a pseudo-terminal, and NOTIFY_SOCKET is a socket
// of the test, so that what it tells systemd can be read back. Every wait ends at a generous
// safety limit, or as soon as the process has ended.
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
    // True once `text` stands `count` times in standard error, or on the terminal.
    bool WaitForError(std::string_view text, int count = 1);
    bool WaitForTerminal(std::string_view text, int count = 1, std::chrono::milliseconds limit = std::chrono::seconds(20));
    void Signal(int signal) const;
    void Type(std::string_view keys) const;
    // The exit status, or 128 + the signal that ended the process (killed after the safety limit).
    int Wait();
    std::string Output() const;   // so far
    std::string Errors() const;
    // What the process has told systemd so far, one message a line.
    std::string Notifications() const;

private:
    bool Running() const;

    pid_t pid_ = -1;
    int terminalFd_ = -1, notifyFd_ = -1;
    std::string base_;   // the executable's path; the outputs and the socket add a suffix
    std::string terminal_;
};

// Reads `path` until it holds `text` `count` times; false after the safety limit.
bool WaitForFileText(const std::filesystem::path& path, std::string_view text, int count = 1);

}  // namespace quorvel::testing
