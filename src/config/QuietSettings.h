#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "config/clsINI.h"

namespace quorvel {

// How long a file must keep its size and modification time before it is taken: [Main]
// QuietSeconds when set (for every file), otherwise kDefaultQuietSeconds for a file whose writers
// the kernel cannot see and nothing for the others.
struct QuietPeriods {
    static constexpr long kDefaultQuietSeconds = 5;
    static constexpr long kMaxQuietSeconds = 3600;
    std::chrono::seconds Seen{0};
    std::chrono::seconds Unseen{kDefaultQuietSeconds};
};

// The quiet periods of options.ini; a bad value (changed since the start-up check) counts as
// absent.
QuietPeriods ReadQuietPeriods(clsINI& Ini);
// The start-up rule of [Main] QuietSeconds: "" when absent or a whole number of seconds from 0 to
// kMaxQuietSeconds, otherwise the message naming the key and the value, ending in CR LF.
std::string QuietSecondsRule(clsINI& Ini, const std::filesystem::path& appFolder);

}  // namespace quorvel
