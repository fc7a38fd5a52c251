#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/CycleProgress.h"
#include "config/clsINI.h"
#include "delivery/CycleResult.h"
#include "delivery/RetryBook.h"
#include "delivery/SendMail.h"
#include "dropfolder/Batch.h"
#include "dropfolder/FolderListing.h"
#include "dropfolder/LockTest.h"
#include "dropfolder/PinnedFolder.h"
#include "dropfolder/QuietWatch.h"
#include "dropfolder/SentMemory.h"
#include "log/MailLog.h"
#include "smtp/OAuthTokens.h"

namespace quorvel {

// A recipient folder chosen to be sent: the mail folder, open, and the name of the folder in it.
struct ChosenFolder {
    FolderListing Mail;
    std::string Name;
};

// The mail side of the service and what it keeps from cycle to cycle: the settings reader, the
// folder served or tried last, the folder held back by a locked file, the folders waiting for a
// retry, the sent files that could not be deleted, the files waiting to be quiet, the OAuth 2.0
// access token, the pinned mail and lost folders, and the running cycle's progress. A cycle's own
// state (the open mail folder, the chosen folder, its batch) passes from step to step as values
// and is gone when the cycle ends.
//
// A recipient folder is a folder lying directly in the mail folder; its batch is every visible
// regular file lying directly in it. Hidden entries (names starting with ".") and system entries
// (links, FIFOs, sockets, devices) are never seen; deeper folders are ignored. Both listings are in
// byte order of the names, so the order is the same on every file system and in every run. The
// search for a folder starts after the one served or tried last and wraps around, so that no
// folder (locked, failing, refilled without end) holds back the others. A folder whose send failed
// for a passing reason waits for its next try (see RetryBook) while the others are served.
class Scanner {
public:
    Scanner(std::filesystem::path appFolder, const MailLog& log, const LockTest& lockTest,
            const Clock& clock);

    const std::filesystem::path& AppFolder() const { return appFolder_; }
    clsINI& Ini() { return ini_; }

    // The recipient folder served or tried last: the next search starts after it.
    const std::string& LastFolder() const { return lastFolder_; }
    // The last recipient folder whose batch was held back by a locked file, or one not yet quiet
    // ("" when none since).
    const std::string& HeldByLock() const { return heldByLock_; }
    // The folders that wait for another try of a send that failed for a passing reason, or of a
    // move into a lost folder that had no room.
    const RetryBook& Retries() const { return retries_; }
    // [Main] MailFolder when the last cycle found it missing or not a folder, otherwise "".
    const std::string& MissingMailFolder() const { return missingMailFolder_; }
    // The mail or lost folder that no longer resolves to the folder pinned when the settings were
    // checked, while it stays so; otherwise "".
    const std::string& ReplacedFolder() const { return replacedFolder_; }

    // Pins the folders that [Main] MailFolder and LostFolder resolve to now (see PinnedFolder);
    // after every settings check.
    void PinFolders();
    // What the running cycle waits on, for a reader on another thread.
    const CycleProgress& Progress() const { return progress_; }

    // One scan cycle, on one reading of options.ini taken at its start: the next recipient folder
    // holding files, its batch sent as one message, then deleted (sent) or moved to
    // <LostFolder>/<folder>/ (failed). A batch whose send was stopped by a change in the mail
    // folder stays for a later cycle (Kept); so does one whose send failed for a passing reason
    // while [SMTP] RetryFor allows (Deferred). Nothing is sent while the mail or the lost folder is
    // not the folder pinned at the settings check (FolderReplaced, once). The result names every
    // file that was not deleted or moved, with the reason. Throws Error when the mail folder cannot
    // be listed. No descriptor of the mail folder is kept after the cycle, so that a share under
    // it can be unmounted between cycles.
    CycleResult ProcessMail();

    // The steps of a cycle before its send, each taking what the one before it returned.
    //
    // Opens and lists `mailFolder` and returns the first candidate holding a file, in name order
    // after the folder served or tried last and then from the start, leaving out folders that wait
    // for a retry; empty when none does. The folder it returns is the one the next search starts
    // after. Throws Error when the mail folder or a recipient folder cannot be listed.
    std::optional<ChosenFolder> FindMailFolder(const std::string& mailFolder);
    // Opens the chosen folder (never through a link) and claims it, lists its batch with each
    // file's identity and tests each file, in name order, for a lock. Returns the batch when it is
    // complete, free and quiet; the found files go to mail.log. A locked file is logged and ends
    // the listing with nothing; a file not yet quiet for its period (see QuietPeriods) gives
    // nothing, nothing logged, once every file was looked at; so does a folder emptied or removed
    // since it was chosen, or one that another process has claimed (it is sending it). Sent files
    // that could not be deleted are left out while unchanged. Throws Error on a listing error.
    std::optional<Batch> CollectFiles(ChosenFolder chosen);

    // Removes the temporary copies that moves killed half-way left in the lost folder's recipient
    // folders; at the start of the service. Never throws.
    void RemoveStaleCopies();

private:
    CycleResult RunCycle();
    CycleResult Deliver(Batch& batch, const std::string& mailFolder);
    std::optional<CycleResult> CheckPinnedFolders(const std::string& mailFolder);
    RetrySettings CurrentRetrySettings();
    void Enter(CyclePhase phase, std::string folder) {
        progress_.Enter(phase, std::move(folder), clock_.Now());
    }
    LockTest::Verdict LockVerdict(const Batch& batch, const std::string& name) const;
    std::optional<RetryBook::Time> NextTry(const std::string& folder, const SendOutcome& sent);
    CycleResult DeleteSentBatch(const Batch& batch);
    CycleResult MoveBatchToLost(const Batch& batch, const std::string& mailFolder,
                                std::string failure);
    FileDescriptor OpenLostFolder(const std::string& lostFolder);
    std::string LostFolder();

    std::filesystem::path appFolder_;
    const MailLog& log_;
    const LockTest& lockTest_;
    const Clock& clock_;
    clsINI ini_;
    std::string lastFolder_;
    std::string heldByLock_;
    SentMemory undeletable_;
    QuietWatch quiet_;
    RetryBook retries_;
    OAuthTokens tokens_;
    PinnedFolder mailPin_;
    PinnedFolder lostPin_;
    std::string missingMailFolder_;
    std::string replacedFolder_;
    CycleProgress progress_;
};

}  // namespace quorvel
