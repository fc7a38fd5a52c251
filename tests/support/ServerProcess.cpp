#include "support/ServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "support/TempDir.h"

extern char** environ;

namespace quorvel::testing {

namespace {

// Only a hung process meets this limit; no test depends on how fast anything happens.
constexpr auto kSafetyLimit = std::chrono::seconds(20);

bool Holds(std::string_view haystack, std::string_view needle, int count) {
    for (std::size_t at = 0; count > 0 && (at = haystack.find(needle, at)) != std::string_view::npos; at += needle.size()) --count;
    return count <= 0;
}

// Polls `done` until it holds (true), or `limit` passes or `alive` fails (false).
bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit, const std::function<bool()>& alive = [] { return true; }) {
    for (auto end = std::chrono::steady_clock::now() + limit; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        if (!alive() || std::chrono::steady_clock::now() > end) return done();
    }
    return true;
}

[[noreturn]] void RunChild(const std::string& base, const ServerProcess::Options& options, const char* terminal) {
    ::setsid();
    auto move = [](int fd, int target) { ::dup2(fd, target), ::close(fd); };
    move(terminal ? ::open(terminal, O_RDWR) : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
    move(::open((base + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    move(::open((base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    ::setenv("NOTIFY_SOCKET", (base + ".notify").c_str(), 1);
    ::unsetenv("TimerInterval");
    for (const std::string& entry : options.environment) ::putenv(const_cast<char*>(entry.c_str()));
    // scripts/syscall-check lists the system calls of every run: strace runs the executable then.
    std::vector<std::string> words{base};
    if (const char* traces = std::getenv("QUORVEL_STRACE_DIR")) {
        words.insert(words.begin(), {"/usr/bin/strace", "-f", "-c", "-o", std::string(traces) + "/trace." + std::to_string(::getpid()), "--"});
    }
    words.insert(words.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execve(argv[0], argv.data(), environ);
    ::_exit(127);
}

}  // namespace

ServerProcess::ServerProcess(const std::filesystem::path& executable, const Options& options) : base_(executable.string()) {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, (base_ + ".notify").c_str(), sizeof address.sun_path - 1);
    ::unlink(address.sun_path);
    notifyFd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (::bind(notifyFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) throw std::runtime_error("no notify socket");
    const char* terminal = nullptr;
    if (options.terminal) {
        terminalFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (::grantpt(terminalFd_) != 0 || ::unlockpt(terminalFd_) != 0) throw std::runtime_error("no pseudo-terminal");
        terminal = ::ptsname(terminalFd_);
    }
    pid_ = ::fork();
    if (pid_ == 0) RunChild(base_, options, terminal);
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    ::close(notifyFd_);
    if (terminalFd_ >= 0) ::close(terminalFd_);
    ::unlink((base_ + ".notify").c_str());
}

// True until the process has ended; only Wait reaps it.
bool ServerProcess::Running() const {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

bool ServerProcess::WaitForError(std::string_view text, int count) {
    return Until([&] { return Holds(Errors(), text, count); }, kSafetyLimit, [this] { return Running(); });
}

// The terminal turns each line end into CR LF; the texts are compared without the CR.
bool ServerProcess::WaitForTerminal(std::string_view text, int count, std::chrono::milliseconds limit) {
    return Until([&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(terminalFd_, buffer, sizeof buffer)) > 0;) terminal_.append(buffer, static_cast<std::size_t>(n));
        std::erase(terminal_, '\r');
        return Holds(terminal_, text, count);
    }, limit, [this] { return Running(); });
}

// Under strace the service is the tracer's one child.
void ServerProcess::Signal(int signal) const {
    const std::string children = "/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children";
    const bool traced = std::getenv("QUORVEL_STRACE_DIR") && Until([&] { return !ReadFile(children).empty(); }, kSafetyLimit);
    ::kill(traced ? std::stoi(ReadFile(children)) : pid_, signal);
}

void ServerProcess::Type(std::string_view keys) const {
    if (::write(terminalFd_, keys.data(), keys.size()) < 0) throw std::runtime_error("no terminal");
}

int ServerProcess::Wait() {
    if (!Until([this] { return !Running(); }, kSafetyLimit)) ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(std::exchange(pid_, -1), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ServerProcess::Output() const { return ReadFile(base_ + ".out"); }

std::string ServerProcess::Errors() const { return ReadFile(base_ + ".err"); }

std::string ServerProcess::Notifications() const {
    std::string all;
    char buffer[512];
    for (ssize_t n; (n = ::recv(notifyFd_, buffer, sizeof buffer, 0)) > 0; all += '\n') all.append(buffer, static_cast<std::size_t>(n));
    return all;
}

bool WaitForFileText(const std::filesystem::path& path, std::string_view text, int count) {
    return Until([&] { return Holds(ReadFile(path), text, count); }, kSafetyLimit);
}

}  // namespace quorvel::testing
