#include "delivery/Scanner.h"

#include <fcntl.h>

#include <algorithm>
#include <utility>

#include "base/Error.h"
#include "base/Utf8Text.h"
#include "config/QuietSettings.h"

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

// A file of the batch as the lock test sees it: through the folder's descriptor, never by the
// folder's path again.
LockTest::Verdict Scanner::LockVerdict(const Batch& batch, const std::string& name) const {
    return lockTest_.Check("/proc/self/fd/" + std::to_string(batch.Fd()) + "/" + name);
}

std::optional<ChosenFolder> Scanner::FindMailFolder(const std::string& mailFolder) {
    FolderListing mail = FolderListing::Open(mailFolder);
    if (!mailPin_.Hold(mail.Fd()))
        return std::nullopt;  // swapped since the cycle checked it: nothing is taken
    const std::vector<Candidate> candidates = ListCandidates(mail);
    const std::size_t count = candidates.size();
    const std::size_t start = std::upper_bound(candidates.begin(), candidates.end(), lastFolder_,
                                               [](const std::string& last, const Candidate& c) {
                                                   return last < c.name;
                                               }) -
                              candidates.begin();
    const auto now = clock_.Now();
    for (std::size_t step = 0; step < count; ++step) {
        const Candidate& candidate = candidates[(start + step) % count];
        if (!candidate.isFolder || retries_.Waits(candidate.name, now)) continue;
        std::optional<FolderListing> folder = mail.OpenSubfolder(candidate.name);
        if (!folder) continue;
        // Stops at the first file to send, so that an empty recipient folder costs one short read.
        bool found = false;
        folder->ForEach([&](std::string_view name, EntryKind kind) {
            found = kind == EntryKind::File &&
                    (undeletable_.Empty() ||
                     !undeletable_.Holds(candidate.name, std::string(name),
                                         LookAt(folder->Fd(), std::string(name))));
            return !found;
        });
        if (found) {
            lastFolder_ = candidate.name;
            return ChosenFolder{std::move(mail), candidate.name};
        }
    }
    return std::nullopt;
}

std::optional<Batch> Scanner::CollectFiles(ChosenFolder chosen) {
    std::optional<Batch> batch = Batch::Open(chosen.Mail.Fd(), chosen.Name);
    // Another process is sending this folder: it is skipped as a locked file is, without a word.
    if (!batch || batch->ClaimedByAnother()) return std::nullopt;
    const std::string& folder = batch->Folder();
    const auto now = [&batch](const std::string& name) { return batch->Look(name); };
    // A remembered file that changed or went away is forgotten: as it now is, it is sent.
    undeletable_.ForgetChanged(folder, now);
    quiet_.Prune(folder, [&](const std::string& name) { return !now(name); });
    FolderListing listing = FolderListing::Adopt(::fcntl(batch->Fd(), F_DUPFD_CLOEXEC, 0),
                                                 chosen.Mail.Path() + "/" + chosen.Name);

    const QuietPeriods periods = ReadQuietPeriods(Ini());
    bool restless = false;
    std::string found;
    for (std::string& name : ListFiles(listing)) {
        const std::optional<FileIdentity> identity = now(name);
        if (undeletable_.Holds(folder, name, identity)) continue;
        const LockTest::Verdict verdict = LockVerdict(*batch, name);
        if (verdict == LockTest::Verdict::Locked) {
            log_.WriteLog("Файл " + CleanLogText(name) + " заблокирован и не может быть отправлен");
            heldByLock_ = folder;
            return std::nullopt;
        }
        const auto period = verdict == LockTest::Verdict::Unseen ? periods.Unseen : periods.Seen;
        restless |=
            !quiet_.Quiet(folder, name, identity.value_or(FileIdentity{}), clock_.Now(), period);
        found += "[" + CleanLogText(name) + "] ";
        batch->Add(name);
    }
    if (restless) heldByLock_ = folder;
    if (restless || batch->Files().empty()) return std::nullopt;
    if (heldByLock_ == folder) heldByLock_.clear();
    log_.WriteLog("Найдены файлы к отправке: " + found);
    return batch;
}

}  // namespace quorvel
