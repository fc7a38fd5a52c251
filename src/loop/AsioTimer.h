#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <functional>

#include "loop/EventLoop.h"
#include "loop/TimerSchedule.h"

namespace quorvel {

// A window-style timer on an Asio steady_timer, due as its TimerSchedule says. Every change of
// interval or state re-arms the timer, and a wait armed under an older generation is ignored.
class AsioTimer final : public LoopTimer {
public:
    AsioTimer(asio::io_context& io, std::function<void()> handler);

    void Interval(int milliseconds) override;
    int Interval() const override { return schedule_.Interval(); }
    void Enabled(bool on) override;
    bool Enabled() const override { return schedule_.Enabled(); }

private:
    void Arm();
    void Fire();

    asio::steady_timer timer_;
    std::function<void()> handler_;
    TimerSchedule schedule_;
};

}  // namespace quorvel
