#pragma once

#include <filesystem>
#include <string>

#include "config/clsINI.h"

namespace quorvel {

// Start-up rules for the connection to the SMTP server. Each returns "" when it holds,
// otherwise its message ending in CR LF.

// [SMTP] Security is empty, none, starttls or tls (any letter case).
std::string SecurityRule(const clsINI& Ini, const std::filesystem::path& appFolder);

// [SMTP] Auth is empty, password or oauth2 (any letter case); with oauth2, TokenUrl is an https
// address and ClientId is given.
std::string AuthRule(const clsINI& Ini, const std::filesystem::path& appFolder);

// [SMTP] CAFile, when given, names a readable regular file (relative to the folder of options.ini)
// that holds at least one PEM certificate that parses.
std::string CAFileRule(const clsINI& Ini, const std::filesystem::path& appFolder);

// [SMTP] Helo is empty or a name IsHeloName takes.
std::string HeloRule(const clsINI& Ini, const std::filesystem::path& appFolder);

}  // namespace quorvel
