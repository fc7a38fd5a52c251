#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "log/MailLog.h"
#include "mail/LockTest.h"
#include "settings/clsINI.h"

namespace quorvel {

// The mail side of the service and its state, which lives as long as the process: the settings
// reader, the mail folder, the candidates of the last listing of the mail folder, the batch of the
// chosen recipient folder, and the position of that folder among the candidates.
//
// A recipient folder is a folder lying directly in the mail folder; its batch is every visible
// regular file lying directly in it. Hidden entries (names starting with ".") and system entries
// (links, FIFOs, sockets, devices) are never seen; deeper folders are ignored. Both listings are in
// byte order of the names, so the order is the same on every file system and in every run.
class Scanner {
public:
    Scanner(std::filesystem::path appFolder, const MailLog& log, const LockTest& lockTest);

    const std::filesystem::path& AppFolder() const { return appFolder_; }
    const MailLog& Log() const { return log_; }
    clsINI& Ini() { return ini_; }

    // The mail folder, without a trailing slash.
    const std::string& MailPath() const { return mailPath_; }
    void SetMailPath(std::string path) { mailPath_ = std::move(path); }

    // Folders and plain files lying in the mail folder at the last FindMailFolder, in name order.
    const std::vector<std::string>& Folders() const { return folders_; }
    // The batch of the last CollectFiles, in name order; after a refusal, the files before the
    // locked one.
    const std::vector<std::string>& Files() const { return files_; }
    std::size_t FileCount() const { return files_.size(); }
    // Position of the chosen folder in Folders(); Folders().size() when none was chosen.
    std::size_t Idx() const { return idx_; }

    // The first candidate in name order that holds a file, or "" when none does. Sets Folders()
    // and Idx(). Throws Error when the mail folder or a recipient folder cannot be listed.
    std::string FindMailFolder();

    // Lists the batch of the folder that FindMailFolder chose and tests each file, in name order,
    // for a lock. True when the batch is complete and free; the found files go to mail.log. A
    // locked file is logged and ends the listing with false; a folder emptied or removed since
    // FindMailFolder gives false with nothing logged. Throws Error on a listing error.
    bool CollectFiles();

    bool IsLocked(const std::filesystem::path& path) const { return lockTest_.IsLocked(path); }

    // One scan cycle: the first recipient folder holding files, its batch sent as one message,
    // then deleted (sent) or moved to <LostFolder>/<folder>/ (failed). Returns "" when nothing was
    // sent, "ok" after a send whose files are all deleted, otherwise a text that names the
    // failure and every file that could not be deleted or moved. Throws Error when the mail folder
    // cannot be listed or mail.log cannot be written.
    std::string ProcessMail();

    // The subject of the batch: its longest file name.
    std::string LongestFileName() const;
    // Sends the batch of `folder` (the files of the last CollectFiles); "ok" or an "Error" text.
    std::string SendMail(const std::string& address, const std::string& subject, const std::string& folder);

private:
    std::string DeleteSentBatch(const std::string& folder);
    std::string MoveBatchToLost(const std::string& folder);

    std::filesystem::path appFolder_;
    const MailLog& log_;
    const LockTest& lockTest_;
    clsINI ini_;
    std::string mailPath_;
    std::vector<std::string> folders_;
    std::vector<std::string> files_;
    std::size_t idx_ = 0;
};

}  // namespace quorvel
