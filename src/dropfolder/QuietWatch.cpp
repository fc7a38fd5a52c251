#include "dropfolder/QuietWatch.h"

namespace quorvel {

namespace {

bool SameState(const FileIdentity& a, const FileIdentity& b) {
    return a.SameFile(b) && a.Size == b.Size && a.Modified.tv_sec == b.Modified.tv_sec &&
           a.Modified.tv_nsec == b.Modified.tv_nsec;
}

}  // namespace

bool QuietWatch::Quiet(const std::string& folder, const std::string& name, const FileIdentity& now,
                       std::chrono::system_clock::time_point at, std::chrono::seconds period) {
    if (period.count() == 0) return true;
    auto [seen, added] = seen_.try_emplace({folder, name}, Seen{now, at});
    // A clock set back would hold the file for as long; its period starts again instead.
    if (!added && (!SameState(seen->second.identity, now) || at < seen->second.since))
        seen->second = {now, at};
    return at - seen->second.since >= period;
}

void QuietWatch::Prune(const std::string& folder,
                       const std::function<bool(const std::string& name)>& gone) {
    std::erase_if(seen_, [&](const auto& entry) {
        return entry.first.first == folder && gone(entry.first.second);
    });
}

}  // namespace quorvel
