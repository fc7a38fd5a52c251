#pragma once

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <optional>

#include "app/ClosePrompt.h"
#include "base/FileDescriptor.h"

namespace quorvel {

// The Yes/No question on the terminal of standard input. The answer is read only when a line is
// ready, so the loop never blocks on it: Enter or "y" means Yes, "n" No, the end of input No;
// anything else asks again.
class TerminalPrompt final : public ClosePrompt {
public:
    explicit TerminalPrompt(asio::io_context& io);

    // Whether standard input is a terminal, that is whether anyone can answer.
    static bool Available();

    void Ask(const std::string& title, const std::string& text,
             std::function<void(bool yes)> answered) override;

private:
    void Open();
    void Show(const std::string& text) const;
    void WaitForLine();
    void ReadLine();
    void Answer(std::string_view line);

    asio::io_context& io_;
    std::optional<asio::posix::stream_descriptor> input_;
    FileDescriptor output_;
    std::function<void(bool)> answered_;
    std::string pending_;
    bool open_ = false;
};

}  // namespace quorvel
