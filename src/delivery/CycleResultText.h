#pragma once

#include <string>

#include "delivery/CycleResult.h"

namespace quorvel {

// How loud a cycle's result is in the journal: not at all, an information entry, an error entry.
enum class JournalWeight { None, Information, Error };

// A cycle's result as it is told: its text for mail.log ("" when there is nothing to tell) and
// the status line, and its weight in the journal.
struct CycleReport {
    std::string Text;
    JournalWeight Weight = JournalWeight::None;
    bool operator==(const CycleReport&) const = default;
};

// The one place where a cycle's result becomes text:
//   Nothing         ""
//   Sent            "ok", then "; not deleted: " and the files changed or opened during the send,
//                   then "; sent but cannot be deleted, not sent again while unchanged: " and the
//                   undeletable ones, each "[name] reason", "; " between them; an error entry
//                   when any file is named, otherwise nothing in the journal
//   Kept            "Не удалось отправить файлы на адрес: " folder "(" failure "; the files stay
//                   in the mail folder to be sent again)"
//   Deferred        "Отправка отложена до hh:mm:ss: " (local time) and the failure text as for a
//                   lost batch without notes; an information entry, since nothing is lost yet
//   Lost            "Не удалось отправить файлы на адрес: " folder "(" failure, what stopped the
//                   move or "; not moved, still in the mail folder: " and the files left, then
//                   "; no room in the lost folder, tried again at hh:mm:ss" when so, and ")"
//   FolderReplaced  what replaced it ": nothing is sent until it is back or the service continues"
// Every result but Nothing, Sent without notes and Deferred is an error entry. Names from the
// file system have their control characters replaced, so that none can forge a line.
CycleReport ReportOf(const CycleResult& result);

}  // namespace quorvel
