#pragma once

#include <string>
#include <vector>

namespace quorvel {

// True when systemd manages this machine (it runs as PID 1), so that it must be told of changed
// unit files; false in containers and chroots, where unit files are only written and linked.
bool SystemdRunning();

// Runs systemctl with `arguments`; its own messages go to standard error. Throws Error naming the
// command when it cannot be started or ends with a status other than 0.
void RunSystemctl(const std::vector<std::string>& arguments);

}  // namespace quorvel
