#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace quorvel {

// What a scan cycle is waiting on: nothing (no cycle runs), the mail folder or the lost folder
// (a file-system call may be pending there), or the SMTP transfer, which has timeouts of its own.
enum class CyclePhase : int { Idle, MailFolder, LostFolder, Sending };

// The phase and progress of the running cycle, written by the thread that runs it and read by
// the service's loop, which must never wait on the cycle itself. Every step (a new phase, bytes
// uploaded) bumps Steps(), so a reader that sees the same count twice knows nothing moved.
class CycleProgress {
public:
    using Time = std::chrono::system_clock::time_point;

    void Enter(CyclePhase phase, std::string folder, Time since) {
        {
            std::lock_guard lock(mutex_);
            folder_ = std::move(folder);
            since_ = since;
        }
        uploaded_ = 0;
        phase_ = phase;
        ++steps_;
    }

    void Uploaded(std::int64_t bytes) {
        if (uploaded_.exchange(bytes) != bytes) ++steps_;
    }

    CyclePhase Phase() const { return phase_; }
    std::uint64_t Steps() const { return steps_; }
    std::int64_t Uploaded() const { return uploaded_; }

    // The folder of the phase and when the phase began.
    std::string Folder() const {
        std::lock_guard lock(mutex_);
        return folder_;
    }
    Time Since() const {
        std::lock_guard lock(mutex_);
        return since_;
    }

private:
    std::atomic<CyclePhase> phase_{CyclePhase::Idle};
    std::atomic<std::uint64_t> steps_{0};
    std::atomic<std::int64_t> uploaded_{0};
    mutable std::mutex mutex_;
    std::string folder_;
    Time since_{};
};

}  // namespace quorvel
