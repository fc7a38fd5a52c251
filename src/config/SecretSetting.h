#pragma once

#include <filesystem>
#include <string>

#include "config/clsINI.h"

namespace quorvel {

// Where a secret given by a *File key lives: `value` is a path (relative to `iniFolder`) or
// "credential:NAME", a systemd credential read from $CREDENTIALS_DIRECTORY/NAME. Throws
// Error(ENOENT) for a credential when the service was given none, Error(EINVAL) for an empty or
// unsafe NAME.
std::filesystem::path SecretFilePath(const std::string& value,
                                     const std::filesystem::path& iniFolder);

// The secret of [SMTP] `key`: the key's own value, or the first line of the file its twin
// `key`File names (see SecretFilePath), without the line end. Throws Error(EINVAL) when both are
// given, Error(errno) naming the key and the path when the file cannot be read. No description
// ever holds the secret.
std::string ReadSecret(const clsINI& Ini, const std::string& key,
                       const std::filesystem::path& iniFolder);

// The keys that hold a secret, each with its *File twin.
inline constexpr const char* kSecretKeys[] = {"Password", "ClientSecret", "RefreshToken"};

}  // namespace quorvel
