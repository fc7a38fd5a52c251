#pragma once

#include <chrono>

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

}  // namespace quorvel
