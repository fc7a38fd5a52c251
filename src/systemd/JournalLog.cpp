#include "systemd/JournalLog.h"

#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>

#include "base/FileDescriptor.h"

namespace quorvel {

namespace {

int Priority(EventType type) {
    return type == EventType::Error ? 3 : 6;  // LOG_ERR, LOG_INFO
}

bool JournalReachable() {
    std::error_code ec;
    return std::filesystem::exists(JournalLog::kJournalSocket, ec);
}

}  // namespace

JournalLog::JournalLog(std::string identifier) : identifier_(std::move(identifier)) {}

void JournalLog::Write(EventType type, int id, std::string_view text) const {
    if (JournalReachable() && SendToJournal(type, id, text)) return;
    WriteAll(STDERR_FILENO, StderrEntry(type, text));
}

bool JournalLog::SendToJournal(EventType type, int id, std::string_view text) const {
    std::string message = EntryText(text);
    int result = sd_journal_send("MESSAGE=%s", message.c_str(), "PRIORITY=%d", Priority(type),
                                 "SYSLOG_IDENTIFIER=%s", identifier_.c_str(), "EVENT_TYPE=%d",
                                 static_cast<int>(type), "EVENT_ID=%d", id, nullptr);
    return result >= 0;
}

std::string JournalLog::EntryText(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    std::string entry;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            entry += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        entry += '\n';
    }
    return entry;
}

std::string JournalLog::StderrEntry(EventType type, std::string_view text) {
    std::string prefix = "<" + std::to_string(Priority(type)) + ">";
    std::string entry = prefix;
    for (char c : EntryText(text)) {
        entry += c;
        if (c == '\n') entry += prefix;
    }
    entry += '\n';
    return entry;
}

}  // namespace quorvel
