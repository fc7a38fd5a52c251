#pragma once

#include <functional>
#include <memory>

namespace quorvel {

// A window-style timer: while enabled and with an interval above 0 it fires every `interval`
// milliseconds, counted from the moment it was last switched on or last fired. An interval of 0
// never fires. Its handler runs on the loop's one thread and to its end before the next event.
class LoopTimer {
public:
    virtual ~LoopTimer() = default;

    // Throws Error(EINVAL) for a negative interval and leaves the timer as it was. A new
    // interval on an enabled timer restarts its count.
    virtual void Interval(int milliseconds) = 0;
    virtual int Interval() const = 0;

    // Switching on a timer that is already on changes nothing.
    virtual void Enabled(bool on) = 0;
    virtual bool Enabled() const = 0;
};

// The single-threaded event loop that carries the timers, and the end of the process.
class EventLoop {
public:
    virtual ~EventLoop() = default;

    // A new timer, switched off, with interval 0.
    virtual std::unique_ptr<LoopTimer> CreateTimer(std::function<void()> handler) = 0;

    // Ends the loop once the running handler returns; the process then exits with `status`.
    virtual void Quit(int status) = 0;
};

}  // namespace quorvel
