#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <functional>

#include "service/EventLoop.h"

namespace quorvel {

// A window-style timer on an Asio steady_timer. Every change of interval or state re-arms the
// timer under a new generation, so a wait that was already under way is ignored when it ends.
class AsioTimer final : public LoopTimer {
public:
    AsioTimer(asio::io_context& io, std::function<void()> handler);

    void Interval(int milliseconds) override;
    int Interval() const override { return interval_; }
    void Enabled(bool on) override;
    bool Enabled() const override { return enabled_; }

private:
    void Arm(asio::steady_timer::time_point due);
    void Fire();

    asio::steady_timer timer_;
    std::function<void()> handler_;
    int interval_ = 0;
    bool enabled_ = false;
    unsigned generation_ = 0;
};

}  // namespace quorvel
