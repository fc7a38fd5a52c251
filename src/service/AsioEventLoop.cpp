#include "service/AsioEventLoop.h"

#include <asio/executor_work_guard.hpp>

#include "service/AsioTimer.h"

namespace quorvel {

std::unique_ptr<LoopTimer> AsioEventLoop::CreateTimer(std::function<void()> handler) {
    return std::make_unique<AsioTimer>(io_, std::move(handler));
}

void AsioEventLoop::Quit(int status) {
    if (!status_) status_ = status;
    io_.stop();
}

int AsioEventLoop::Run() {
    if (status_) return *status_;
    // The loop waits for signals even while no timer is armed.
    auto guard = asio::make_work_guard(io_);
    io_.run();
    return status_.value_or(0);
}

}  // namespace quorvel
