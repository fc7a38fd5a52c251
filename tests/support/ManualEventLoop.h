#pragma once

#include <optional>
#include <vector>

#include "service/EventLoop.h"

namespace quorvel::testing {

// An event loop on a clock that moves only when the test says so. RunFor fires the timers that
// fall due, in time order; Sleep lets time pass inside a handler, as a long scan cycle would.
class ManualEventLoop final : public EventLoop {
public:
    ~ManualEventLoop() override;

    long Now() const { return now_; }
    std::optional<int> QuitStatus() const { return status_; }

    void Sleep(long milliseconds) { now_ += milliseconds; }
    void RunFor(long milliseconds);

    std::unique_ptr<LoopTimer> CreateTimer(std::function<void()> handler) override;
    void Quit(int status) override;

    class ManualTimer;

private:
    friend class ManualTimer;
    long now_ = 0;
    std::optional<int> status_;
    std::vector<ManualTimer*> timers_;
};

}  // namespace quorvel::testing
