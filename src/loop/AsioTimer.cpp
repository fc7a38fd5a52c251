#include "loop/AsioTimer.h"

namespace quorvel {

namespace {

using Clock = asio::steady_timer::clock_type;

long NowMilliseconds() {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

}  // namespace

AsioTimer::AsioTimer(asio::io_context& io, std::function<void()> handler)
    : timer_(io), handler_(std::move(handler)) {}

void AsioTimer::Interval(int milliseconds) {
    schedule_.Interval(milliseconds, NowMilliseconds());
    Arm();
}

void AsioTimer::Enabled(bool on) {
    if (schedule_.Enabled(on, NowMilliseconds())) Arm();
}

void AsioTimer::Arm() {
    timer_.cancel();
    if (!schedule_.Armed()) return;
    timer_.expires_at(Clock::time_point(std::chrono::milliseconds(schedule_.Due())));
    unsigned generation = schedule_.Generation();
    timer_.async_wait([this, generation](const std::error_code& ec) {
        if (ec || generation != schedule_.Generation()) return;
        Fire();
    });
}

void AsioTimer::Fire() {
    unsigned generation = schedule_.Generation();
    handler_();
    if (schedule_.Fired(generation, NowMilliseconds())) Arm();
}

}  // namespace quorvel
