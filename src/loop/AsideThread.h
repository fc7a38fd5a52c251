#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace quorvel {

// One thread that runs the jobs it is given, one after another. A job may hang for as long as
// the file system it waits on; Busy() then stays true, and the owner must leave the process
// without destroying what the job uses (see AsioEventLoop::Run). Destroyed while idle, it ends
// its thread and joins it.
class AsideThread {
public:
    AsideThread() = default;
    AsideThread(const AsideThread&) = delete;
    AsideThread& operator=(const AsideThread&) = delete;
    ~AsideThread();

    // Queues `job`; the thread starts with the first one.
    void Run(std::function<void()> job);
    bool Busy() const;

private:
    void Serve();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> job_;
    bool busy_ = false;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace quorvel
