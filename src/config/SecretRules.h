#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/clsINI.h"

namespace quorvel {

// Start-up rule for the secrets of [SMTP] (Password, ClientSecret, RefreshToken): no key is given
// together with its *File twin, and every *File given can be read (see ReadSecret). "" when all
// hold, otherwise one message per fault ending in CR LF; none holds a secret.
std::string SecretRule(const clsINI& Ini, const std::filesystem::path& appFolder);

// One warning for options.ini when it holds a secret, and one for each secret file given by path,
// that anyone but its owner and group may read; none otherwise.
std::vector<std::string> ReadableSecretWarnings(const clsINI& Ini,
                                                const std::filesystem::path& appFolder);

}  // namespace quorvel
