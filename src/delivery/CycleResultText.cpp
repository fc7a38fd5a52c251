#include "delivery/CycleResultText.h"

#include <algorithm>
#include <initializer_list>

#include "base/Utf8Text.h"
#include "log/MailLog.h"

namespace quorvel {

namespace {

using Kind = CycleResult::Kind;
using Note = FileNote::Kind;

constexpr const char* kFailedPrefix = "Не удалось отправить файлы на адрес: ";
constexpr const char* kDeferredPrefix = "Отправка отложена до ";
constexpr const char* kStay = ", the files stay in the mail folder";

// "hh:mm:ss" of "dd.mm.yyyy hh:mm:ss": the time of day is what a reader of the log needs.
std::string TimeOfDay(CycleResult::Time time) { return LocalTimestamp(time).substr(11); }

// "; <title>: [name] reason; [name] reason" for the notes of the given kinds; "" when none is.
std::string NoteList(const std::vector<FileNote>& notes, const char* title,
                     std::initializer_list<Note> kinds) {
    std::string list;
    for (const FileNote& note : notes) {
        if (std::find(kinds.begin(), kinds.end(), note.What) == kinds.end()) continue;
        if (!list.empty()) list += "; ";
        list += "[" + CleanLogText(note.Name) + "] " + CleanLogText(note.Reason);
    }
    return list.empty() ? "" : "; " + std::string(title) + ": " + list;
}

std::string SentText(const CycleResult& result) {
    return "ok" +
           NoteList(result.Notes, "not deleted",
                    {Note::ChangedDuringSend, Note::OpenedDuringSend}) +
           NoteList(result.Notes, "sent but cannot be deleted, not sent again while unchanged",
                    {Note::Undeletable});
}

// What became of a failed batch on its way into the lost folder.
std::string LostFolderText(const CycleResult& result) {
    std::string text;
    switch (result.Move.What) {
        case LostFolderMove::Kind::NotSet:
            return "; LostFolder is empty";
        case LostFolderMove::Kind::Overlapping:
            return "; " + result.Move.Problem + kStay;
        case LostFolderMove::Kind::Unusable:
            text = "; " + CleanLogText(result.Move.Problem) + kStay;
            break;
        case LostFolderMove::Kind::Moved:
            text = NoteList(result.Notes, "not moved, still in the mail folder", {Note::NotMoved});
            break;
    }
    if (result.RetryAt)
        text += "; no room in the lost folder, tried again at " + TimeOfDay(*result.RetryAt);
    return text;
}

std::string FailedText(const CycleResult& result, const std::string& more) {
    return kFailedPrefix + CleanLogText(result.Folder) + "(" + result.Failure + more + ")";
}

std::string DeferredText(const CycleResult& result) {
    const std::string until = result.RetryAt ? TimeOfDay(*result.RetryAt) : "";
    return kDeferredPrefix + until + ": " + FailedText(result, "");
}

}  // namespace

CycleReport ReportOf(const CycleResult& result) {
    switch (result.What) {
        case Kind::Nothing:
            return {};
        case Kind::Sent:
            return {SentText(result),
                    result.Notes.empty() ? JournalWeight::None : JournalWeight::Error};
        case Kind::Kept:
            return {FailedText(result, "; the files stay in the mail folder to be sent again"),
                    JournalWeight::Error};
        case Kind::Deferred:
            return {DeferredText(result), JournalWeight::Information};
        case Kind::Lost:
            return {FailedText(result, LostFolderText(result)), JournalWeight::Error};
        case Kind::FolderReplaced:
            return {result.Failure + ": nothing is sent until it is back or the service continues",
                    JournalWeight::Error};
    }
    return {};
}

}  // namespace quorvel
