#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {

// A file of the cycle's batch that is still in the mail folder, and why.
struct FileNote {
    enum class Kind {
        ChangedDuringSend,  // sent, but it changed since: it goes out again as it is now
        OpenedDuringSend,   // sent, but opened for writing since its listing: it goes out again
        Undeletable,        // sent, but it cannot be deleted: not sent again while unchanged
        NotMoved,           // of a failed send: it could not be moved into the lost folder
    };
    std::string Name;
    Kind What = Kind::NotMoved;
    std::string Reason;  // why, in the words of mail.log
};

// How far the batch of a failed send got on its way into the lost folder.
struct LostFolderMove {
    enum class Kind {
        Moved,        // every file went, but those noted NotMoved
        NotSet,       // [Main] LostFolder is empty: the files stay
        Overlapping,  // the lost folder and the mail folder overlap (Problem): the files stay
        Unusable,     // the lost folder could not be created or opened (Problem): the files stay
    };
    Kind What = Kind::Moved;
    std::string Problem;
};

// What one scan cycle did, for mail.log, the journal and the status line (see ReportOf).
struct CycleResult {
    using Time = std::chrono::system_clock::time_point;
    enum class Kind {
        Nothing,         // nothing was sent: no folder with files, or its batch is not ready yet
        Sent,            // the server accepted the batch; the Notes name the files still there
        Kept,            // a change in the mail folder stopped the send; the batch stays
        Deferred,        // the send failed for a passing reason; the batch waits until RetryAt
        Lost,            // the send failed; the batch went to the lost folder as far as Move says
        FolderReplaced,  // the mail or lost folder (Folder) is not the pinned one (Failure says
                         // how); nothing is sent until it is back
    };
    // A result of `what` for `folder`, with the failure that caused it; no notes yet.
    static CycleResult Of(Kind what, std::string folder, std::string failure = "") {
        CycleResult result;
        result.What = what;
        result.Folder = std::move(folder);
        result.Failure = std::move(failure);
        return result;
    }

    Kind What = Kind::Nothing;
    std::string Folder;   // the recipient folder, or the replaced mail or lost folder
    std::string Failure;  // why the send failed ("Error " number ": " description), or what
                          // replaced the folder
    // Deferred: the next try. Lost: the lost folder had no room; the folder waits until then.
    std::optional<Time> RetryAt;
    std::vector<FileNote> Notes;
    LostFolderMove Move;  // of Lost
};

}  // namespace quorvel
