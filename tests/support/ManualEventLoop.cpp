#include "support/ManualEventLoop.h"

#include <algorithm>
#include <cerrno>

#include "base/Error.h"

namespace quorvel::testing {

class ManualEventLoop::ManualTimer final : public LoopTimer {
public:
    ManualTimer(ManualEventLoop& loop, std::function<void()> handler)
        : loop_(loop), handler_(std::move(handler)) {
        loop_.timers_.push_back(this);
    }
    ~ManualTimer() override { std::erase(loop_.timers_, this); }

    void Interval(int milliseconds) override {
        if (milliseconds < 0) throw Error(EINVAL, "negative interval");
        interval_ = milliseconds;
        if (enabled_) Arm(loop_.now_ + interval_);
    }
    int Interval() const override { return interval_; }
    void Enabled(bool on) override {
        if (on == enabled_) return;
        enabled_ = on;
        Arm(loop_.now_ + interval_);
    }
    bool Enabled() const override { return enabled_; }

    bool Armed() const { return enabled_ && interval_ > 0; }
    long Due() const { return due_; }

    void Fire() {
        unsigned generation = generation_;
        handler_();
        if (generation == generation_) Arm(due_ + interval_);
    }

private:
    void Arm(long due) {
        ++generation_;
        due_ = due;
    }

    ManualEventLoop& loop_;
    std::function<void()> handler_;
    int interval_ = 0;
    bool enabled_ = false;
    long due_ = 0;
    unsigned generation_ = 0;
};

ManualEventLoop::~ManualEventLoop() = default;

std::unique_ptr<LoopTimer> ManualEventLoop::CreateTimer(std::function<void()> handler) {
    return std::make_unique<ManualTimer>(*this, std::move(handler));
}

void ManualEventLoop::Quit(int status) {
    if (!status_) status_ = status;
}

ManualEventLoop::ManualTimer* ManualEventLoop::NextDue(long until) const {
    ManualTimer* next = nullptr;
    for (ManualTimer* timer : timers_) {
        if (!timer->Armed() || timer->Due() > until) continue;
        if (next == nullptr || timer->Due() < next->Due()) next = timer;
    }
    return next;
}

void ManualEventLoop::RunFor(long milliseconds) {
    long until = now_ + milliseconds;
    while (!status_) {
        ManualTimer* timer = NextDue(until);
        if (timer == nullptr) break;
        now_ = std::max(now_, timer->Due());
        timer->Fire();
    }
    now_ = std::max(now_, until);
}

}  // namespace quorvel::testing
