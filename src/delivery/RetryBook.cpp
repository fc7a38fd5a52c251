#include "delivery/RetryBook.h"

namespace quorvel {

bool RetryBook::Waits(const std::string& folder, Time now) const {
    auto entry = entries_.find(folder);
    return entry != entries_.end() && now < entry->second.nextTry;
}

std::optional<RetryBook::Time> RetryBook::Defer(const std::string& folder, Time now,
                                                const RetrySettings& settings) {
    auto entry = entries_.try_emplace(folder, Entry{now, now}).first;
    if (!settings.Enabled() || now - entry->second.firstFailure >= settings.RetryFor) {
        entries_.erase(entry);
        return std::nullopt;
    }
    entry->second.nextTry = now + settings.RetryDelay;
    return entry->second.nextTry;
}

std::vector<std::pair<std::string, RetryBook::Time>> RetryBook::Waiting() const {
    std::vector<std::pair<std::string, Time>> waiting;
    for (const auto& [folder, entry] : entries_) waiting.emplace_back(folder, entry.nextTry);
    return waiting;
}

}  // namespace quorvel
