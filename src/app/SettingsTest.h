#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "config/clsINI.h"
#include "log/MailLog.h"

namespace quorvel {

inline constexpr int kExitUnavailable = 69;  // EX_UNAVAILABLE: the server cannot be reached
inline constexpr int kExitBadSettings = 78;  // EX_CONFIG: systemd does not restart on it

// What a cycle would trip over in values that the start-up check lets pass: [SMTP] Server, Port
// and Timeout, [Main] Timer, and the addresses of [Main] Mail and every [alias] line. One text per
// finding; none when all are usable. `Ini` must have passed CheckSettings.
std::vector<std::string> ValueFindings(const clsINI& Ini, const std::filesystem::path& appFolder);

// [Main] MailFolder must be an existing folder, [Main] LostFolder one that exists or can be
// created in an existing, writable folder.
std::vector<std::string> FolderFindings(const clsINI& Ini);

// The command `/t`: the start-up check with every rule, then the findings above, then warnings
// about secrets that anyone may read, then a login to the SMTP server that sends nothing (with
// Auth=oauth2 after getting an access token, naming the grant). Each finding goes on its own line
// to `out`. Returns 0 when all is well, 78 when a setting is wrong (and then no connection is
// tried), 69 when the server cannot be reached or refuses the login, or the token endpoint refuses.
// No secret ever appears.
int TestSettings(const std::filesystem::path& appFolder, const MailLog& log, std::ostream& out);

}  // namespace quorvel
