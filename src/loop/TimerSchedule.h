#pragma once

namespace quorvel {

// When a window-style timer is due, in milliseconds on whatever clock its loop keeps: switched on
// or given a new interval, it is due one interval later; after it fired, one interval after it was
// due, or at once when its handler overran that, so that missed periods give one tick, not a burst.
// An interval of 0 never fires. Every change makes a new generation, so that a wait set up under
// an old one is recognised when it ends and ignored.
class TimerSchedule {
public:
    // Throws Error(EINVAL) for a negative interval and leaves the schedule as it was.
    void Interval(int milliseconds, long now);
    int Interval() const { return interval_; }
    // Switching on a timer that is already on changes nothing: false then.
    bool Enabled(bool on, long now);
    bool Enabled() const { return enabled_; }

    bool Armed() const { return enabled_ && interval_ > 0; }
    long Due() const { return due_; }
    unsigned Generation() const { return generation_; }

    // After the handler of the firing that started under `generation` returned: true when the
    // timer runs on at the next Due(), false when the handler changed the schedule itself.
    bool Fired(unsigned generation, long now);

private:
    void Arm(long due);

    int interval_ = 0;
    bool enabled_ = false;
    long due_ = 0;
    unsigned generation_ = 0;
};

}  // namespace quorvel
