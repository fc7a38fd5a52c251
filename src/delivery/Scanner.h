#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/CycleProgress.h"
#include "config/QuietRules.h"
#include "config/clsINI.h"
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

// The mail side of the service and its state, which lives as long as the process: the settings
// reader, the mail folder, the candidates of the last listing of the mail folder, the batch of the
// chosen recipient folder, the folder served or tried last, the sent files that could not be
// deleted, and the OAuth 2.0 access token.
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
    const MailLog& Log() const { return log_; }
    clsINI& Ini() { return ini_; }

    // The mail folder, without a trailing slash.
    const std::string& MailPath() const { return mailPath_; }
    void SetMailPath(std::string path) { mailPath_ = std::move(path); }

    // The names of the batch of the last CollectFiles, in name order; after a refusal, the files
    // before the locked one.
    std::vector<std::string> Files() const {
        return batch_ ? batch_->Names() : std::vector<std::string>{};
    }
    std::size_t FileCount() const { return batch_ ? batch_->Files().size() : 0; }
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
    CycleProgress& Progress() { return progress_; }

    // The first candidate holding a file, in name order after the folder served or tried last and
    // then from the start, leaving out folders that wait for a retry, or "" when none does. Sets
    // the candidates, the chosen one and the folder the next search starts after. Throws Error when
    // the mail folder or a recipient folder cannot be listed.
    std::string FindMailFolder();

    // Opens the folder that FindMailFolder chose (never through a link) and claims it, lists its
    // batch with each file's identity and tests each file, in name order, for a lock. True when the
    // batch is complete, free and quiet; the found files go to mail.log. A locked file is logged
    // and ends the listing with false; a file not yet quiet for its period (see QuietPeriods) gives
    // false, nothing logged, once every file was looked at; so does a folder emptied or removed
    // since FindMailFolder, or one that another process has claimed (it is sending it). Sent files
    // that could not be deleted are left out while unchanged. Throws Error on a listing error.
    bool CollectFiles();

    bool IsLocked(const std::filesystem::path& path) const { return lockTest_.IsLocked(path); }

    // One scan cycle, on one reading of options.ini taken at its start: the next recipient folder
    // holding files, its batch sent as one message, then deleted (sent) or moved to
    // <LostFolder>/<folder>/ (failed). A batch whose send was stopped by a change in the mail
    // folder stays for a later cycle; so does one whose send failed for a passing reason while
    // [SMTP] RetryFor allows (the result then starts with "Отправка отложена до"). Nothing is sent
    // while the mail or the lost folder is not the folder pinned at the settings check (the
    // result says so once). Returns "" when nothing was sent, "ok" after a send whose files are
    // all deleted, otherwise a text that names the failure and every file that was not deleted or
    // moved, with the reason. Throws Error when the mail folder cannot be listed.
    // No descriptor of the mail folder is kept after the cycle, so that a share under it can be
    // unmounted between cycles.
    std::string ProcessMail();

    // The file of the batch at `index` is held by someone now, by the lock test asked again.
    bool InUseNow(std::size_t index) const;

    // The subject of the batch: its longest file name.
    std::string LongestFileName() const;
    // Sends the batch of the last CollectFiles to `address`.
    SendOutcome SendMail(const std::string& address, const std::string& subject);

    // Removes the temporary copies that moves killed half-way left in the lost folder's recipient
    // folders; at the start of the service. Never throws.
    void RemoveStaleCopies();

private:
    std::string RunCycle();
    std::string CheckPinnedFolders();
    RetrySettings CurrentRetrySettings();
    void Enter(CyclePhase phase, std::string folder) {
        progress_.Enter(phase, std::move(folder), clock_.Now());
    }
    std::string Deferred(const SendOutcome& sent);
    std::string DeleteSentBatch();
    std::string MoveBatchToLost();
    std::string MoveFiles(int targetFd, bool& noRoom);
    FileDescriptor OpenLostFolder(const std::string& lostFolder);
    std::string LostFolder();

    std::filesystem::path appFolder_;
    const MailLog& log_;
    const LockTest& lockTest_;
    const Clock& clock_;
    clsINI ini_;
    std::string mailPath_;
    std::optional<FolderListing> mail_;
    std::vector<std::string> folders_;  // folders and plain files of the mail folder, in name order
    std::optional<Batch> batch_;
    std::size_t idx_ = 0;  // the chosen one among folders_; folders_.size() when none
    std::string lastFolder_;
    std::string heldByLock_;
    SentMemory undeletable_;
    QuietWatch quiet_;
    RetryBook retries_;
    OAuthTokens tokens_;  // kept from cycle to cycle
    PinnedFolder mailPin_;
    PinnedFolder lostPin_;
    std::string missingMailFolder_;
    std::string replacedFolder_;
    CycleProgress progress_;
};

}  // namespace quorvel
