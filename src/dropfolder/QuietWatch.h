#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "base/Clock.h"
#include "dropfolder/FileIdentity.h"

namespace quorvel {

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
