#pragma once

#include <string>

#include "service/MailWork.h"

namespace quorvel {

// The line `systemctl status` shows while the service stops.
inline constexpr const char* kStoppingStatus = "Остановка";

// The line `systemctl status` shows: paused or working, the time and result of the last send, a
// missing mail folder, the folder that waits on a locked file, the folders waiting for a retry and
// until when. One line: control characters of names and results become "_".
std::string StatusLine(bool paused, const MailStatus& status);

}  // namespace quorvel
