#include "app/SignalEvents.h"

#include <csignal>

namespace quorvel {

SignalEvents::SignalEvents(asio::io_context& io, frmService& form, bool closeAsks)
    : signals_(io, SIGTERM, SIGINT, SIGHUP), form_(form), closeAsks_(closeAsks) {
    signals_.add(SIGUSR1);
    signals_.add(SIGUSR2);
    Wait();
}

void SignalEvents::Wait() {
    signals_.async_wait([this](const std::error_code& ec, int signal) {
        if (ec) return;
        Dispatch(signal);
        Wait();
    });
}

void SignalEvents::Dispatch(int signal) {
    switch (signal) {
        case SIGTERM:
            form_.Service_Stop();
            break;
        case SIGUSR1:
            form_.Service_Pause();
            break;
        case SIGHUP:
            form_.Service_Reload();
            break;
        case SIGINT:
            if (closeAsks_) {
                form_.Form_QueryUnload();
            } else {
                form_.Service_Stop();
            }
            break;
        default:
            form_.Service_Control(signal);
            break;
    }
}

}  // namespace quorvel
