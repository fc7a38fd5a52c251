#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/RetrySettings.h"

namespace quorvel {

// The recipient folders whose last send failed for a passing reason, or whose failed batch found no
// room in the lost folder, and that wait in the mail folder for another try: when the waiting
// began and when the next try is due. It lives in memory only; after a restart every folder is
// simply tried at once.
class RetryBook {
public:
    using Time = std::chrono::system_clock::time_point;

    // True while `folder` waits: its next try is not yet due at `now`.
    bool Waits(const std::string& folder, Time now) const;

    // A try of `folder` that ended at `now` failed for a passing reason. Returns the time of the
    // next try while less than RetryFor has passed since the folder's first failed try; otherwise
    // forgets the folder and returns nothing: the batch goes to the lost folder.
    std::optional<Time> Defer(const std::string& folder, Time now, const RetrySettings& settings);

    // `folder` is not tried again before `until` (its failed batch found no room in the lost
    // folder at `now`); a waiting that began earlier keeps its start.
    void Hold(const std::string& folder, Time now, Time until) {
        entries_.try_emplace(folder, Entry{now, until}).first->second.nextTry = until;
    }

    // The waiting of `folder` ends: it was sent, failed for good, or holds nothing any more.
    void Forget(const std::string& folder) { entries_.erase(folder); }

    // Every waiting folder with the time of its next try, in name order.
    std::vector<std::pair<std::string, Time>> Waiting() const;

private:
    struct Entry {
        Time firstFailure;
        Time nextTry;
    };
    std::map<std::string, Entry> entries_;
};

}  // namespace quorvel
