#include "delivery/Scanner.h"

#include <fcntl.h>

#include <algorithm>
#include <utility>

#include "base/Error.h"
#include "base/Utf8Text.h"

namespace quorvel {

namespace {

struct Candidate {
    std::string name;
    bool isFolder;
};

std::vector<Candidate> ListCandidates(FolderListing& mail) {
    std::vector<Candidate> candidates;
    mail.ForEach([&](std::string_view name, EntryKind kind) {
        candidates.push_back({std::string(name), kind == EntryKind::Folder});
        return true;
    });
    // std::string compares as unsigned bytes: the byte order of the UTF-8 names.
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.name < b.name; });
    return candidates;
}

std::vector<std::string> ListFiles(FolderListing& folder) {
    std::vector<std::string> names;
    folder.ForEach([&](std::string_view name, EntryKind kind) {
        if (kind == EntryKind::File) names.emplace_back(name);
        return true;
    });
    std::sort(names.begin(), names.end());
    return names;
}

// A file of the batch as the lock test sees it: through the folder's descriptor, never by the
// folder's path again.
std::filesystem::path HeldPath(const Batch& batch, const std::string& name) {
    return "/proc/self/fd/" + std::to_string(batch.Fd()) + "/" + name;
}

}  // namespace

// The sent files that could not be deleted are remembered beside mail.log.
Scanner::Scanner(std::filesystem::path appFolder, const MailLog& log, const LockTest& lockTest,
                 const Clock& clock)
    : appFolder_(std::move(appFolder)),
      log_(log),
      lockTest_(lockTest),
      clock_(clock),
      undeletable_(appFolder_ / "undeletable.state"),
      tokens_(clock, [&log](const std::string& text) { log.WriteLog(text); }) {}

bool Scanner::InUseNow(std::size_t index) const {
    return IsLocked(HeldPath(*batch_, batch_->Files()[index].Name));
}

std::string Scanner::FindMailFolder() {
    idx_ = 0;
    folders_.clear();
    batch_.reset();
    mail_.reset();
    mail_ = FolderListing::Open(mailPath_);
    if (!mailPin_.Hold(mail_->Fd()))
        return "";  // swapped since the cycle checked it: nothing is taken
    std::vector<Candidate> candidates = ListCandidates(*mail_);
    for (const Candidate& candidate : candidates) folders_.push_back(candidate.name);

    const std::size_t count = candidates.size();
    const std::size_t start =
        std::upper_bound(folders_.begin(), folders_.end(), lastFolder_) - folders_.begin();
    const auto now = clock_.Now();
    for (std::size_t step = 0; step < count; ++step) {
        idx_ = (start + step) % count;
        if (!candidates[idx_].isFolder || retries_.Waits(folders_[idx_], now)) continue;
        std::optional<FolderListing> folder = mail_->OpenSubfolder(folders_[idx_]);
        if (!folder) continue;
        // Stops at the first file to send, so that an empty recipient folder costs one short read.
        bool found = false;
        folder->ForEach([&](std::string_view name, EntryKind kind) {
            found = kind == EntryKind::File &&
                    (undeletable_.Empty() ||
                     !undeletable_.Holds(folders_[idx_], std::string(name),
                                         LookAt(folder->Fd(), std::string(name))));
            return !found;
        });
        if (found) {
            lastFolder_ = folders_[idx_];
            return lastFolder_;
        }
    }
    idx_ = count;
    return "";
}

bool Scanner::CollectFiles() {
    if (!mail_ || idx_ >= folders_.size()) {
        throw Error(EINVAL, "no recipient folder of " + mailPath_ + " has been chosen to collect");
    }
    batch_ = Batch::Open(mail_->Fd(), folders_[idx_]);
    // Another process is sending this folder: it is skipped as a locked file is, without a word.
    if (!batch_ || batch_->ClaimedByAnother()) return false;
    const std::string& folder = batch_->Folder();
    const auto now = [this](const std::string& name) { return batch_->Look(name); };
    // A remembered file that changed or went away is forgotten: as it now is, it is sent.
    undeletable_.ForgetChanged(folder, now);
    quiet_.Prune(folder, [&](const std::string& name) { return !now(name); });
    FolderListing listing = FolderListing::Adopt(::fcntl(batch_->Fd(), F_DUPFD_CLOEXEC, 0),
                                                 mailPath_ + "/" + folders_[idx_]);

    const QuietPeriods periods = ReadQuietPeriods(Ini());
    bool restless = false;
    std::string found;
    for (std::string& name : ListFiles(listing)) {
        const std::optional<FileIdentity> identity = now(name);
        if (undeletable_.Holds(folder, name, identity)) continue;
        const LockTest::Verdict verdict = lockTest_.Check(HeldPath(*batch_, name));
        if (verdict == LockTest::Verdict::Locked) {
            log_.WriteLog("Файл " + CleanLogText(name) + " заблокирован и не может быть отправлен");
            heldByLock_ = folder;
            return false;
        }
        const auto period = verdict == LockTest::Verdict::Unseen ? periods.Unseen : periods.Seen;
        restless |=
            !quiet_.Quiet(folder, name, identity.value_or(FileIdentity{}), clock_.Now(), period);
        found += "[" + CleanLogText(name) + "] ";
        batch_->Add(name);
    }
    if (restless) heldByLock_ = folder;
    if (restless || batch_->Files().empty()) return false;
    if (heldByLock_ == batch_->Folder()) heldByLock_.clear();
    log_.WriteLog("Найдены файлы к отправке: " + found);
    return true;
}

}  // namespace quorvel
