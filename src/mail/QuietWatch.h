#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "base/Clock.h"
#include "mail/FileIdentity.h"
#include "settings/clsINI.h"

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

// Remembers, from one cycle to the next, since when each file of the recipient folders has kept
// its size and modification time, by the service's own clock (a remote host's clock may be off).
class QuietWatch {
public:
    // True when the entry `name` of `folder`, as it is `now`, has been the same file of the same
    // size and modification time since at least `period` before `at`. A file first seen, or seen
    // changed, starts its period at `at`; a period of 0 is always over.
    bool Quiet(const std::string& folder, const std::string& name, const FileIdentity& now,
               std::chrono::system_clock::time_point at, std::chrono::seconds period);
    // Forgets the files of `folder` for which `gone` holds.
    void Prune(const std::string& folder, const std::function<bool(const std::string& name)>& gone);

private:
    struct Seen {
        FileIdentity identity;
        std::chrono::system_clock::time_point since;
    };
    std::map<std::pair<std::string, std::string>, Seen> seen_;
};

}  // namespace quorvel
