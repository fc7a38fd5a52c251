#pragma once

#include <ctime>

#include "base/Clock.h"

namespace quorvel::testing {

// A wall clock that shows `now` and moves only when the test sets it.
class FixedClock final : public Clock {
public:
    FixedClock() = default;
    FixedClock(int year, int month, int day, int hour, int minute, int second) {
        std::tm local{second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
        now = std::chrono::system_clock::from_time_t(std::mktime(&local));
    }
    std::chrono::system_clock::time_point Now() const override { return now; }
    std::chrono::system_clock::time_point now{};
};

}  // namespace quorvel::testing
