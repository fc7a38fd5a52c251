#include "loop/AsioEventLoop.h"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "loop/AsioTimer.h"

namespace quorvel {

std::unique_ptr<LoopTimer> AsioEventLoop::CreateTimer(std::function<void()> handler) {
    return std::make_unique<AsioTimer>(io_, std::move(handler));
}

void AsioEventLoop::Quit(int status) {
    if (!status_) status_ = status;
    io_.stop();
}

void AsioEventLoop::Post(std::function<void()> handler) { asio::post(io_, std::move(handler)); }

void AsioEventLoop::RunAside(std::function<void()> job) { aside_.Run(std::move(job)); }

int AsioEventLoop::Run() {
    if (status_) return *status_;
    {
        // The loop waits for signals even while no timer is armed.
        auto guard = asio::make_work_guard(io_);
        io_.run();
    }
    const int status = status_.value_or(0);
    if (aside_.Busy()) {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

}  // namespace quorvel
