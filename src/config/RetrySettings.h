#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "config/clsINI.h"

namespace quorvel {

// How long a batch whose send failed for a passing reason waits in the mail folder for another
// try before it goes to the lost folder: [SMTP] RetryFor seconds from its first failed try, one
// try every [SMTP] RetryDelay seconds. RetryFor absent, empty or 0: no waiting at all.
struct RetrySettings {
    static constexpr long kMaxRetryFor = 604800;  // a week
    static constexpr long kMaxRetryDelay = 86400;
    static constexpr long kDefaultRetryDelay = 60;

    std::chrono::seconds RetryFor{0};
    std::chrono::seconds RetryDelay{kDefaultRetryDelay};

    bool Enabled() const { return RetryFor.count() > 0; }
};

// Reads [SMTP] RetryFor and RetryDelay. Throws Error(EINVAL) naming the key and its value when one
// is given but is not a whole number in its range.
RetrySettings ReadRetrySettings(clsINI& Ini);

// The start-up rule for the two keys: "" when both are absent or fit, otherwise one line per bad
// key, each ending in CR LF.
std::string CheckRetrySettings(clsINI& Ini, const std::filesystem::path& appFolder);

}  // namespace quorvel
