#pragma once

#include <filesystem>
#include <string>

#include "config/QuietSettings.h"
#include "config/clsINI.h"

namespace quorvel {

// The quiet periods of options.ini; a bad value (changed since the start-up check) counts as
// absent.
QuietPeriods ReadQuietPeriods(const clsINI& Ini);
// The start-up rule of [Main] QuietSeconds: "" when absent or a whole number of seconds from 0 to
// kMaxQuietSeconds, otherwise the message naming the key and the value, ending in CR LF.
std::string QuietSecondsRule(const clsINI& Ini, const std::filesystem::path& appFolder);

}  // namespace quorvel
