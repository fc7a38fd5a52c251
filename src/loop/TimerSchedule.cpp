#include "loop/TimerSchedule.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "base/Error.h"

namespace quorvel {

void TimerSchedule::Interval(int milliseconds, long now) {
    if (milliseconds < 0) {
        throw Error(EINVAL, "invalid timer interval " + std::to_string(milliseconds) +
                                " ms: it must not be negative");
    }
    interval_ = milliseconds;
    if (enabled_) Arm(now + interval_);
}

bool TimerSchedule::Enabled(bool on, long now) {
    if (on == enabled_) return false;
    enabled_ = on;
    Arm(now + interval_);
    return true;
}

bool TimerSchedule::Fired(unsigned generation, long now) {
    if (generation != generation_) return false;
    Arm(std::max(due_ + interval_, now));
    return true;
}

void TimerSchedule::Arm(long due) {
    ++generation_;
    due_ = due;
}

}  // namespace quorvel
