#pragma once

#include <asio/io_context.hpp>

#include <optional>

#include "service/EventLoop.h"

namespace quorvel {

// The production event loop: one io_context run on the main thread, timers on steady_timer.
class AsioEventLoop final : public EventLoop {
public:
    asio::io_context& Context() { return io_; }

    std::unique_ptr<LoopTimer> CreateTimer(std::function<void()> handler) override;
    void Quit(int status) override;

    // Runs the handlers until Quit; returns its status. Returns at once when Quit came first.
    int Run();

private:
    asio::io_context io_;
    std::optional<int> status_;
};

}  // namespace quorvel
