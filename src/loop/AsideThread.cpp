#include "loop/AsideThread.h"

namespace quorvel {

AsideThread::~AsideThread() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void AsideThread::Run(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        busy_ = true;
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { Serve(); });
    wake_.notify_one();
}

bool AsideThread::Busy() const {
    std::lock_guard lock(mutex_);
    return busy_;
}

void AsideThread::Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || job_; });
        if (!job_) return;
        std::function<void()> job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        busy_ = false;
    }
}

}  // namespace quorvel
