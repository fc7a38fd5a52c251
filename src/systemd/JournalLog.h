#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "systemd/ServiceControl.h"

namespace quorvel {

// The event log on systemd: entries go to the journal with their priority, the service's
// identifier and the entry codes (EVENT_TYPE, EVENT_ID). Without a journal to talk to, each entry
// goes to standard error in one write, every line prefixed "<3>" or "<6>" as sd-daemon(3) does.
class JournalLog {
public:
    static constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

    explicit JournalLog(std::string identifier);

    void Write(EventType type, int id, std::string_view text) const;

    // The text of one entry as the journal takes it: CR LF and CR become LF (the settings check
    // ends its lines in CR LF, as mail.log does), line ends at the end are dropped.
    static std::string EntryText(std::string_view text);
    // The standard-error form of one entry: the entry text with the priority prefix on each line.
    static std::string StderrEntry(EventType type, std::string_view text);

private:
    bool SendToJournal(EventType type, int id, std::string_view text) const;

    std::string identifier_;
};

}  // namespace quorvel
