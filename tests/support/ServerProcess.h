#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>

#include "support/TempDir.h"

extern char** environ;

namespace quorvel::testing {

// quorvel-server as a child: standard output and error go to files beside the executable, standard
// input is /dev/null or a pseudo-terminal, NOTIFY_SOCKET is a socket of the test. Every wait ends
// when the process does or at a generous safety limit that only a hung process meets.
class ServerProcess {
public:
    // `environment` holds "KEY=VALUE" entries added to the test's own.
    ServerProcess(const std::filesystem::path& executable, std::vector<std::string> arguments,
                  const std::vector<std::string>& environment = {}, bool terminal = false)
        : base_(executable.string()) {
        sockaddr_un address{AF_UNIX, {}};
        std::strncpy(address.sun_path, (base_ + ".notify").c_str(), sizeof address.sun_path - 1);
        ::unlink(address.sun_path);
        notifyFd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (::bind(notifyFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("no notify socket");
        if (terminal) {
            terminalFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
            if (::grantpt(terminalFd_) != 0 || ::unlockpt(terminalFd_) != 0)
                throw std::runtime_error("no pseudo-terminal");
        }
        pid_ = ::fork();
        if (pid_ == 0)
            RunChild(arguments, environment, terminal ? ::ptsname(terminalFd_) : nullptr);
    }
    ~ServerProcess() {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
        ::close(notifyFd_), ::close(terminalFd_);
        ::unlink((base_ + ".notify").c_str());
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // True once `text` stands in standard error, or on the terminal, which turns each line end
    // into CR LF; the texts are compared without the CR.
    bool WaitForError(std::string_view text) {
        return Until([&] { return Errors().find(text) != std::string::npos; });
    }
    bool WaitForTerminal(std::string_view text) {
        return Until([&] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(terminalFd_, buffer, sizeof buffer)) > 0;)
                terminal_.append(buffer, static_cast<std::size_t>(n));
            std::erase(terminal_, '\r');
            return terminal_.find(text) != std::string::npos;
        });
    }
    // Under strace the service is the tracer's one child.
    void Signal(int signal) const {
        const std::string children =
            "/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children";
        const bool traced =
            std::getenv("QUORVEL_STRACE_DIR") && Until([&] { return !ReadFile(children).empty(); });
        ::kill(traced ? std::stoi(ReadFile(children)) : pid_, signal);
    }
    void Type(std::string_view keys) const {
        (void)!::write(terminalFd_, keys.data(), keys.size());
    }
    // The exit status, or 128 + the signal that ended the process (killed after the safety limit).
    int Wait() {
        if (!Until([this] { return !Running(); })) ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(std::exchange(pid_, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // True once the main thread has ended; a thread held in the kernel (by a FUSE request its
    // daemon does not answer, which even SIGKILL must wait out) still keeps the exit status back.
    bool MainThreadEnded() const {
        return Until([this] {
            const std::string stat = ReadFile("/proc/" + std::to_string(pid_) + "/stat");
            return stat.empty() || stat.substr(stat.rfind(')') + 2, 1) == "Z";
        });
    }
    std::string Output() const { return ReadFile(base_ + ".out"); }  // so far
    std::string Errors() const { return ReadFile(base_ + ".err"); }
    // What the process has told systemd so far, one message a line. Every wait reads the socket as
    // systemd would: a full socket would hold the process in sd_notify.
    std::string Notifications() const {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(notifyFd_, buffer, sizeof buffer, 0)) > 0; notices_ += '\n')
            notices_.append(buffer, static_cast<std::size_t>(n));
        return notices_;
    }

private:
    static constexpr std::chrono::milliseconds kSafetyLimit = std::chrono::seconds(20);

    // Polls `done` until it holds (true), or the safety limit passes or the process ends (false,
    // unless `done` holds then).
    bool Until(const std::function<bool()>& done) const {
        for (auto end = std::chrono::steady_clock::now() + kSafetyLimit; !done();
             std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            if (!Running() || std::chrono::steady_clock::now() > end) return done();
        }
        return true;
    }
    // True until the process has ended; only Wait reaps it.
    bool Running() const {
        Notifications();
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == 0;
    }
    [[noreturn]] void RunChild(const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment,
                               const char* terminal) const {
        ::setsid();
        auto move = [](int fd, int target) { ::dup2(fd, target), ::close(fd); };
        move(terminal ? ::open(terminal, O_RDWR) : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
        move(::open((base_ + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        move(::open((base_ + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        ::setenv("NOTIFY_SOCKET", (base_ + ".notify").c_str(), 1);
        ::unsetenv("TimerInterval");
        for (const std::string& entry : environment) ::putenv(const_cast<char*>(entry.c_str()));
        // scripts/syscall-check lists the system calls of every run: strace runs the executable
        // then.
        std::vector<std::string> words{base_};
        if (const char* traces = std::getenv("QUORVEL_STRACE_DIR")) {
            words.insert(words.begin(),
                         {"/usr/bin/strace", "-f", "-c", "-o",
                          std::string(traces) + "/trace." + std::to_string(::getpid()), "--"});
        }
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }

    pid_t pid_ = -1;
    int terminalFd_ = -1, notifyFd_ = -1;
    std::string base_;  // the executable's path; the outputs and the socket add a suffix
    std::string terminal_;
    mutable std::string notices_;
};

}  // namespace quorvel::testing
