#pragma once

#include <string>
#include <vector>

#include "app/MailWork.h"

namespace quorvel {

// The line `systemctl status` shows while the service stops.
inline constexpr const char* kStoppingStatus = "Остановка";

// The line `systemctl status` shows: paused or working, the time and result of the last send, the
// service's own notes (a folder that does not answer, errors found in options.ini), a missing mail
// folder, the folder that waits on a locked file, the folders waiting for a retry and until when.
// One line: control characters of names and results become "_". It stays below systemd's limit:
// what does not fit is left out and counted ("; … и ещё 12").
std::string StatusLine(bool paused, const MailStatus& status,
                       const std::vector<std::string>& notes = {});

}  // namespace quorvel
