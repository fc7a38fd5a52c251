#pragma once

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>

#include "app/frmService.h"

namespace quorvel {

// Turns the signals systemd and the console send into the service's events: SIGTERM stops,
// SIGUSR1 pauses, SIGHUP reloads (a continue while paused), SIGUSR2 is a control code of its own,
// and SIGINT asks to close (with the prompt when a person sits at a terminal, otherwise a plain
// stop).
class SignalEvents {
public:
    SignalEvents(asio::io_context& io, frmService& form, bool closeAsks);

private:
    void Wait();
    void Dispatch(int signal);

    asio::signal_set signals_;
    frmService& form_;
    bool closeAsks_;
};

}  // namespace quorvel
