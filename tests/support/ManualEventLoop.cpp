#include "support/ManualEventLoop.h"

#include <algorithm>

#include "service/TimerSchedule.h"

namespace quorvel::testing {

// The loop's timers keep the production schedule; only the clock is the test's.
class ManualEventLoop::ManualTimer final : public LoopTimer {
public:
    ManualTimer(ManualEventLoop& loop, std::function<void()> handler)
        : loop_(loop), handler_(std::move(handler)) {
        loop_.timers_.push_back(this);
    }
    ~ManualTimer() override { std::erase(loop_.timers_, this); }

    void Interval(int milliseconds) override { schedule.Interval(milliseconds, loop_.now_); }
    int Interval() const override { return schedule.Interval(); }
    void Enabled(bool on) override { schedule.Enabled(on, loop_.now_); }
    bool Enabled() const override { return schedule.Enabled(); }

    void Fire() {
        unsigned generation = schedule.Generation();
        handler_();
        schedule.Fired(generation, loop_.now_);
    }

    TimerSchedule schedule;

private:
    ManualEventLoop& loop_;
    std::function<void()> handler_;
};

ManualEventLoop::~ManualEventLoop() = default;

std::unique_ptr<LoopTimer> ManualEventLoop::CreateTimer(std::function<void()> handler) {
    return std::make_unique<ManualTimer>(*this, std::move(handler));
}

void ManualEventLoop::Quit(int status) {
    if (!status_) status_ = status;
}

// Fires the timers that fall due before `until`, earliest first.
void ManualEventLoop::RunFor(long milliseconds) {
    const long until = now_ + milliseconds;
    while (!status_) {
        ManualTimer* next = nullptr;
        for (ManualTimer* timer : timers_) {
            if (!timer->schedule.Armed() || timer->schedule.Due() > until) continue;
            if (next == nullptr || timer->schedule.Due() < next->schedule.Due()) next = timer;
        }
        if (next == nullptr) break;
        now_ = std::max(now_, next->schedule.Due());
        next->Fire();
    }
    now_ = std::max(now_, until);
}

}  // namespace quorvel::testing
