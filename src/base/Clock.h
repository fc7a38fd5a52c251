#pragma once

#include <chrono>

namespace quorvel {

// Wall-clock time, behind a seam so that tests can pin the date in mail.log.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point Now() const = 0;
};

class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point Now() const override {
        return std::chrono::system_clock::now();
    }
};

}  // namespace quorvel
