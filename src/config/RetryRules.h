#pragma once

#include <filesystem>
#include <string>

#include "config/RetrySettings.h"
#include "config/clsINI.h"

namespace quorvel {

// Reads [SMTP] RetryFor and RetryDelay. Throws Error(EINVAL) naming the key and its value when one
// is given but is not a whole number in its range.
RetrySettings ReadRetrySettings(const clsINI& Ini);

// The start-up rule for the two keys: "" when both are absent or fit, otherwise one line per bad
// key, each ending in CR LF.
std::string CheckRetrySettings(const clsINI& Ini, const std::filesystem::path& appFolder);

}  // namespace quorvel
