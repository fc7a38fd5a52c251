#include "app/TerminalPrompt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/Error.h"

namespace quorvel {

namespace {

constexpr const char* kChoices = "[Y/n] ";

// CR LF of the message text becomes the terminal's line end.
std::string TerminalText(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (c != '\r') result += c;
    }
    return result;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

TerminalPrompt::TerminalPrompt(asio::io_context& io) : io_(io) {}

bool TerminalPrompt::Available() { return ::isatty(STDIN_FILENO) == 1; }

// The terminal is written through its own descriptor, so the question reaches the person even
// when standard output goes elsewhere.
void TerminalPrompt::Open() {
    if (input_) return;
    int in = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    if (in < 0) throw SystemError("cannot read the terminal");
    input_.emplace(io_, in);
    const char* name = ::ttyname(STDIN_FILENO);
    if (name != nullptr) output_ = FileDescriptor(::open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (!output_.Valid()) output_ = FileDescriptor(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
}

void TerminalPrompt::Ask(const std::string& title, const std::string& text,
                         std::function<void(bool yes)> answered) {
    if (open_) return;
    Open();
    open_ = true;
    answered_ = std::move(answered);
    pending_.clear();
    Show("\n" + title + "\n" + TerminalText(text) + "\n" + kChoices);
    WaitForLine();
}

void TerminalPrompt::Show(const std::string& text) const {
    WriteAll(output_.Get(), text);  // a terminal that takes nothing more leaves nothing to tell
}

// Waiting for readability leaves the terminal's blocking mode alone, which the shell shares.
void TerminalPrompt::WaitForLine() {
    input_->async_wait(asio::posix::stream_descriptor::wait_read,
                       [this](const std::error_code& ec) {
                           if (!ec) ReadLine();
                       });
}

void TerminalPrompt::ReadLine() {
    char buffer[256];
    ssize_t n = ::read(input_->native_handle(), buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return WaitForLine();
    if (n <= 0) {
        open_ = false;
        answered_(false);
        return;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
    std::size_t end = pending_.find_first_of("\r\n");
    if (end == std::string::npos) return WaitForLine();
    Answer(std::string_view(pending_).substr(0, end));
}

void TerminalPrompt::Answer(std::string_view line) {
    std::string_view answer = Trimmed(line);
    bool yes = answer.empty() || answer == "y" || answer == "Y" || answer == "yes";
    bool no = answer == "n" || answer == "N" || answer == "no";
    if (!yes && !no) {
        pending_.clear();
        Show(kChoices);
        return WaitForLine();
    }
    open_ = false;
    std::function<void(bool)> answered = std::move(answered_);
    answered(yes);
}

}  // namespace quorvel
