#include "support/ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "support/TempDir.h"

extern char** environ;

namespace quorvel::testing {

namespace {

// Only a hung process meets this limit; no test depends on how fast anything happens.
constexpr auto kSafetyLimit = std::chrono::seconds(20);

int CountOf(std::string_view haystack, std::string_view needle) {
    int count = 0;
    for (std::size_t pos = haystack.find(needle); pos != std::string_view::npos;
         pos = haystack.find(needle, pos + needle.size())) {
        ++count;
    }
    return count;
}

int OpenTerminal(std::string& slaveName) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    slaveName = ::ptsname(master);
    return master;
}

int BindNotifySocket(const std::filesystem::path& path) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind " + path.string());
    }
    return fd;
}

[[noreturn]] void RunChild(const std::filesystem::path& executable,
                           const ServerProcess::Options& options, int out, int err,
                           const std::string& slave, const std::string& notify) {
    ::setsid();
    int in = slave.empty() ? ::open("/dev/null", O_RDONLY) : ::open(slave.c_str(), O_RDWR);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::setenv("NOTIFY_SOCKET", notify.c_str(), 1);
    ::unsetenv("TimerInterval");
    for (const std::string& entry : options.environment) ::putenv(const_cast<char*>(entry.c_str()));
    // scripts/syscall-check lists the system calls of every run: strace runs the executable then.
    std::vector<std::string> words{executable.string()};
    if (const char* traces = std::getenv("QUORVEL_STRACE_DIR")) {
        std::string log = std::string(traces) + "/trace." + std::to_string(::getpid());
        words.insert(words.begin(), {"/usr/bin/strace", "-f", "-c", "-o", log, "--"});
    }
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    for (const std::string& a : options.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execve(argv[0], argv.data(), environ);
    ::_exit(127);
}

}  // namespace

ServerProcess::ServerProcess(const std::filesystem::path& executable, const Options& options) {
    notifyPath_ = executable.parent_path() / ("notify-" + std::to_string(::getpid()));
    std::filesystem::remove(notifyPath_);
    notifyFd_ = BindNotifySocket(notifyPath_);
    std::string slave;
    if (options.terminal) terminalFd_ = OpenTerminal(slave);
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipe");
    }
    pid_ = ::fork();
    if (pid_ == 0) RunChild(executable, options, out[1], err[1], slave, notifyPath_.string());
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {outFd_, errFd_, terminalFd_, notifyFd_}) {
        if (fd >= 0) ::close(fd);
    }
    std::filesystem::remove(notifyPath_);
}

// Reads whatever is ready on the child's outputs; false once the outputs have ended.
bool ServerProcess::Pump() {
    pollfd fds[3] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}, {terminalFd_, POLLIN, 0}};
    std::string* sinks[3] = {&out_, &err_, &terminal_};
    if (::poll(fds, 3, 100) < 0) return true;
    bool open = false;
    for (int i = 0; i < 3; ++i) {
        if (fds[i].fd < 0) continue;
        if (fds[i].revents != 0) {
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                // The terminal turns each line end into CR LF; compare texts without the CR.
                for (ssize_t k = 0; k < n; ++k) {
                    if (i != 2 || buffer[k] != '\r') *sinks[i] += buffer[k];
                }
            } else if (i < 2) {
                ::close(fds[i].fd);
                (i == 0 ? outFd_ : errFd_) = -1;
                continue;
            }
        }
        if (i < 2) open = true;
    }
    return open;
}

bool ServerProcess::WaitFor(const std::string& stream, std::string_view text, int count,
                            std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (CountOf(stream, text) < count) {
        if (!Pump() || std::chrono::steady_clock::now() > end) return false;
    }
    return true;
}

// Under strace the service is the tracer's one child.
void ServerProcess::Signal(int signal) const {
    pid_t target = pid_;
    for (int attempt = 0; attempt < 500 && std::getenv("QUORVEL_STRACE_DIR") && target == pid_; ++attempt) {
        std::string children = ReadFile("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children");
        if (!children.empty()) target = std::stoi(children);
        else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(target, signal);
}

void ServerProcess::Type(std::string_view keys) const {
    if (::write(terminalFd_, keys.data(), keys.size()) < 0) throw std::runtime_error("no terminal");
}

int ServerProcess::Wait() {
    auto limit = std::chrono::steady_clock::now() + kSafetyLimit;
    while (Pump()) {
        if (std::chrono::steady_clock::now() > limit) ::kill(pid_, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ServerProcess::Notifications() const {
    std::string all;
    char buffer[512];
    ssize_t n;
    while ((n = ::recv(notifyFd_, buffer, sizeof buffer, 0)) > 0) {
        all.append(buffer, static_cast<std::size_t>(n));
        all += '\n';
    }
    return all;
}

bool WaitForFileText(const std::filesystem::path& path, std::string_view text, int count) {
    auto limit = std::chrono::steady_clock::now() + kSafetyLimit;
    while (CountOf(ReadFile(path), text) < count) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace quorvel::testing
