#pragma once

#include <asio/io_context.hpp>
#include <optional>

#include "loop/AsideThread.h"
#include "loop/EventLoop.h"

namespace quorvel {

// The production event loop: one io_context run on the main thread, timers on steady_timer, the
// work aside on an AsideThread.
class AsioEventLoop final : public EventLoop {
public:
    asio::io_context& Context() { return io_; }

    std::unique_ptr<LoopTimer> CreateTimer(std::function<void()> handler) override;
    void Quit(int status) override;
    void Post(std::function<void()> handler) override;
    void RunAside(std::function<void()> job) override;

    // Runs the handlers until Quit; returns its status. Returns at once when Quit came first.
    // When a job aside has not ended (a share that does not answer), the process ends here with
    // the status: nothing is destroyed that the job could still use when the share wakes up.
    int Run();

private:
    asio::io_context io_;
    std::optional<int> status_;
    AsideThread aside_;  // after io_: ended before the loop its jobs post to
};

}  // namespace quorvel
