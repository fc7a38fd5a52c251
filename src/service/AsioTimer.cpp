#include "service/AsioTimer.h"

#include <cerrno>

#include "base/Error.h"

namespace quorvel {

AsioTimer::AsioTimer(asio::io_context& io, std::function<void()> handler)
    : timer_(io), handler_(std::move(handler)) {}

void AsioTimer::Interval(int milliseconds) {
    if (milliseconds < 0) {
        throw Error(EINVAL, "invalid timer interval " + std::to_string(milliseconds) +
                                " ms: it must not be negative");
    }
    interval_ = milliseconds;
    if (enabled_) Arm(asio::steady_timer::clock_type::now() + std::chrono::milliseconds(interval_));
}

void AsioTimer::Enabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    Arm(asio::steady_timer::clock_type::now() + std::chrono::milliseconds(interval_));
}

void AsioTimer::Arm(asio::steady_timer::time_point due) {
    ++generation_;
    timer_.cancel();
    if (!enabled_ || interval_ == 0) return;
    timer_.expires_at(due);
    unsigned generation = generation_;
    timer_.async_wait([this, generation](const std::error_code& ec) {
        if (ec || generation != generation_) return;
        Fire();
    });
}

// The next period counts from when this one was due, as a window timer does; a handler that
// took longer than the interval gets one tick at once, not a burst of missed ones.
void AsioTimer::Fire() {
    unsigned generation = generation_;
    auto due = timer_.expiry();
    handler_();
    if (generation != generation_) return;  // the handler switched or re-set the timer itself
    auto next = due + std::chrono::milliseconds(interval_);
    Arm(std::max(next, asio::steady_timer::clock_type::now()));
}

}  // namespace quorvel
