#pragma once

#include <chrono>

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

}  // namespace quorvel
