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

// The single-threaded event loop that carries the timers, and the end of the process. Work that
// may wait on the file system runs aside, on one thread of its own, so that the loop keeps
// answering while it waits; it hands its outcome back with Post.
class EventLoop {
public:
    virtual ~EventLoop() = default;

    // A new timer, switched off, with interval 0.
    virtual std::unique_ptr<LoopTimer> CreateTimer(std::function<void()> handler) = 0;

    // Ends the loop once the running handler returns; the process then exits with `status`.
    virtual void Quit(int status) = 0;

    // Runs `handler` on the loop's thread after the running handler; callable from any thread.
    // After Quit it may never run.
    virtual void Post(std::function<void()> handler) = 0;

    // Runs `job` on the thread aside. One job at a time: the caller starts the next one only after
    // the last has posted its end.
    virtual void RunAside(std::function<void()> job) = 0;
};

}  // namespace quorvel
