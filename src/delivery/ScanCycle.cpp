// The scan cycle: one recipient folder found, its batch sent, then deleted or moved to the lost
// folder. Every file of the batch is accounted for: delivered and deleted, moved, or still waiting
// in the mail folder with its reason in the cycle's result. Every step after the listing works
// relative to the descriptors of the recipient folder and of the lost folder, never by a path
// resolved again. Names from the file system go into mail.log and the journal with their control
// characters replaced, so that a name cannot forge a line of either.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Error.h"
#include "base/Utf8Text.h"
#include "config/FolderRules.h"
#include "config/FolderSettings.h"
#include "config/GetAddress.h"
#include "config/RetryRules.h"
#include "delivery/DeferredResult.h"
#include "delivery/Scanner.h"
#include "dropfolder/FileMover.h"
#include "smtp/FailureKind.h"

namespace quorvel {

namespace {

constexpr const char* kFailedPrefix = "Не удалось отправить файлы на адрес: ";
// Opens a folder; O_NOFOLLOW is added where a link in its place must not be followed.
constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A move that failed for want of room in the lost folder's file system: trying it again at once
// would only churn a full disk.
bool NoRoom(int err) { return err == ENOSPC || err == EDQUOT; }

// "[name] reason; [name] reason" for the files that could not be disposed of.
void AddProblem(std::string& problems, const std::string& name, const std::string& reason) {
    if (!problems.empty()) problems += "; ";
    problems += "[" + CleanLogText(name) + "] " + CleanLogText(reason);
}

// <LostFolder>/<folder>, created no more open than the recipient folder `mailFd` it mirrors, and
// opened without following a link: anything there that is not a real folder is never written
// through.
FileDescriptor OpenRecipientFolder(int lostFd, const std::string& lostFolder,
                                   const std::string& folder, int mailFd) {
    const std::string path = lostFolder + "/" + folder;
    struct stat mirrored {};
    const mode_t mode = ::fstat(mailFd, &mirrored) == 0 ? (mirrored.st_mode & 0777) : 0700;
    if (::mkdirat(lostFd, folder.c_str(), mode) != 0 && errno != EEXIST)
        throw SystemError("cannot create " + path);
    FileDescriptor fd(::openat(lostFd, folder.c_str(), kOpenFolder | O_NOFOLLOW));
    if (fd.Valid()) return fd;
    if (errno == ELOOP || errno == ENOTDIR) throw Error(errno, path + " is not a real folder");
    throw SystemError("cannot open " + path);
}

}  // namespace

std::string Scanner::LongestFileName() const { return quorvel::LongestFileName(Files()); }

SendOutcome Scanner::SendMail(const std::string& address, const std::string& subject) {
    return quorvel::SendMail(address, subject, *batch_, Ini(), Log(), tokens_, &progress_);
}

std::string Scanner::LostFolder() { return LostFolderSetting(Ini()); }

void Scanner::PinFolders() {
    mailPin_.Pin(MailFolderSetting(Ini()));
    lostPin_.Pin(LostFolder());
    replacedFolder_.clear();
}

// An error's text may hold a name from the mail folder; it must not forge a line of the journal.
// However the cycle ends, the batch's claim and leases end, its descriptors are closed and its
// phase is over.
std::string Scanner::ProcessMail() {
    struct EndOfCycle {
        Scanner& scanner;
        ~EndOfCycle() {
            if (scanner.batch_) scanner.batch_->Release();
            scanner.batch_.reset();
            scanner.mail_.reset();
            scanner.Enter(CyclePhase::Idle, "");
        }
    } end{*this};
    try {
        Ini().Load();
        return RunCycle();
    } catch (const Error& e) {
        throw Error(e.Number(), CleanLogText(e.what()));
    }
}

std::string Scanner::RunCycle() {
    // An empty setting must never turn into a listing of the root folder.
    std::string mailFolder = MailFolderSetting(Ini());
    missingMailFolder_.clear();
    if (mailFolder.empty()) return "";
    Enter(CyclePhase::MailFolder, mailFolder);
    SetMailPath(mailFolder);
    if (!IsFolder(MailPath())) {
        missingMailFolder_ = mailFolder;
        return "";
    }
    if (std::string replaced = CheckPinnedFolders(); !replaced.empty()) return replaced;
    if (!replacedFolder_.empty()) return "";  // still swapped, and said so before

    std::string folder = FindMailFolder();
    if (folder.empty()) return "";
    Log().WriteLog("Найден непустой каталог: " + CleanLogText(folder));
    if (!CollectFiles()) return "";

    std::string address = GetAddress(folder, Ini());
    std::string subject = LongestFileName();
    Enter(CyclePhase::Sending, "");
    SendOutcome sent = SendMail(address, subject);
    Enter(CyclePhase::MailFolder, MailPath());
    switch (sent.Result) {
        case SendOutcome::Kind::Sent:
            retries_.Forget(folder);
            return DeleteSentBatch();
        case SendOutcome::Kind::LocalChange:
            // No fault of the server's or the batch's: no retry time is counted for it.
            return kFailedPrefix + CleanLogText(folder) + "(" + sent.Text +
                   "; the files stay in the mail folder to be sent again)";
        case SendOutcome::Kind::Failed:
            break;
    }
    std::string deferred = Deferred(sent);
    if (!deferred.empty()) return deferred;
    return kFailedPrefix + CleanLogText(folder) + "(" + sent.Text + MoveBatchToLost() + ")";
}

// Nothing is sent while a named folder is not the one pinned: the result names it the first time,
// and the folder stays in ReplacedFolder() until it is back.
std::string Scanner::CheckPinnedFolders() {
    std::string problem = mailPin_.Check("MailFolder", MailPath()), folder = MailPath();
    if (const std::string lost = LostFolder(); problem.empty() && !lost.empty()) {
        problem = lostPin_.Check("LostFolder", lost);
        folder = lost;
    }
    if (problem.empty() || folder == replacedFolder_) {
        if (problem.empty()) replacedFolder_.clear();
        return "";
    }
    replacedFolder_ = folder;
    return problem + ": nothing is sent until it is back or the service continues";
}

RetrySettings Scanner::CurrentRetrySettings() {
    try {
        return ReadRetrySettings(Ini());
    } catch (const Error&) {
        return {};  // changed to a bad value since the start-up check: no waiting until it is
                    // mended
    }
}

// A send that failed for a passing reason keeps its batch in the mail folder while [SMTP] RetryFor
// allows: "Отправка отложена до hh:mm:ss: " and the failure text. "" when the batch is to go to the
// lost folder now (a lasting failure, no retries set, or RetryFor run out).
std::string Scanner::Deferred(const SendOutcome& sent) {
    const std::string& folder = batch_->Folder();
    const RetrySettings settings = CurrentRetrySettings();
    if (ClassifyFailure(sent.Number, sent.ReplyCode) == FailureKind::Lasting) {
        retries_.Forget(folder);
        return "";
    }
    std::optional<RetryBook::Time> next = retries_.Defer(folder, clock_.Now(), settings);
    if (!next) return "";
    return DeferredResultText(*next, kFailedPrefix + CleanLogText(folder) + "(" + sent.Text + ")");
}

std::string Scanner::DeleteSentBatch() {
    std::string changed, kept;
    for (std::size_t index = 0; index < batch_->Files().size(); ++index) {
        const BatchFile& file = batch_->Files()[index];
        // A file that no lease watched is tested again right before its deletion.
        std::string reason = batch_->DeleteSent(index, !batch_->Watched(index) && InUseNow(index));
        if (reason.empty()) continue;
        if (reason == kChangedDuringSend || reason == kOpenedDuringSend) {
            AddProblem(changed, file.Name, reason);
            continue;
        }
        // Mailed once; not again while it stays as it is.
        undeletable_.Add(batch_->Folder(), file.Name,
                         batch_->Look(file.Name).value_or(FileIdentity{}));
        AddProblem(kept, file.Name, reason);
    }
    std::string result = "ok";
    if (!changed.empty()) result += "; not deleted: " + changed;
    if (!kept.empty())
        result += "; sent but cannot be deleted, not sent again while unchanged: " + kept;
    return result;
}

// The lost folder itself, created (one level, open to its owner only) when missing. The folder
// pinned at the settings check may be reached through the administrator's link; one that was
// missing then is created or taken only as a real folder.
FileDescriptor Scanner::OpenLostFolder(const std::string& lostFolder) {
    if (::mkdir(lostFolder.c_str(), 0700) != 0 && errno != EEXIST)
        throw SystemError("cannot create " + lostFolder);
    FileDescriptor fd(
        ::open(lostFolder.c_str(), kOpenFolder | (lostPin_.Known() ? 0 : O_NOFOLLOW)));
    if (!fd.Valid()) throw SystemError("cannot open " + lostFolder);
    if (!lostPin_.Hold(fd.Get())) {
        throw Error(ESTALE,
                    lostFolder + " is not the folder it was when the settings were checked");
    }
    return fd;
}

// Moves every file of the batch into <LostFolder>/<folder>/; "" when all went, otherwise
// "; " and the reasons, for the failure text. A file that could not be moved stays where it was;
// when the lost folder had no room, the folder waits [SMTP] RetryDelay before it is tried again.
std::string Scanner::MoveBatchToLost() {
    const std::string lostFolder = LostFolder();
    if (lostFolder.empty()) return "; LostFolder is empty";
    if (FoldersOverlap(MailPath(), lostFolder)) {
        return "; " + FolderOverlapText(MailPath(), lostFolder) +
               ", the files stay in the mail folder";
    }
    Enter(CyclePhase::LostFolder, lostFolder);
    bool noRoom = false;
    std::string problems;
    try {
        FileDescriptor target = OpenRecipientFolder(OpenLostFolder(lostFolder).Get(), lostFolder,
                                                    batch_->Folder(), batch_->Fd());
        problems = MoveFiles(target.Get(), noRoom);
    } catch (const Error& e) {
        problems = "; " + CleanLogText(e.what()) + ", the files stay in the mail folder";
        noRoom = NoRoom(e.Number());
    }
    if (!noRoom) return problems;
    const auto until = clock_.Now() + CurrentRetrySettings().RetryDelay;
    retries_.Hold(batch_->Folder(), clock_.Now(), until);
    return problems + "; no room in the lost folder, tried again at " +
           LocalTimestamp(until).substr(11);
}

// Moves the files of the batch into the lost recipient folder `targetFd`; "" when all went,
// otherwise the files left and why. `noRoom` tells whether one found no room there.
std::string Scanner::MoveFiles(int targetFd, bool& noRoom) {
    quorvel::RemoveStaleCopies(targetFd);
    std::string problems;
    for (const BatchFile& file : batch_->Files()) {
        try {
            MoveWithoutOverwrite(batch_->Fd(), file.Name, file.Listed, targetFd);
        } catch (const Error& e) {
            AddProblem(problems, file.Name, e.what());
            noRoom = noRoom || NoRoom(e.Number());
        }
    }
    return problems.empty() ? "" : "; not moved, still in the mail folder: " + problems;
}

void Scanner::RemoveStaleCopies() {
    try {
        const std::string lostFolder = LostFolder();
        if (lostFolder.empty()) return;
        FolderListing lost = FolderListing::Open(lostFolder);
        lost.ForEach([&](std::string_view name, EntryKind kind) {
            if (kind != EntryKind::Folder) return true;
            FileDescriptor folder(
                ::openat(lost.Fd(), std::string(name).c_str(), kOpenFolder | O_NOFOLLOW));
            if (folder.Valid()) quorvel::RemoveStaleCopies(folder.Get());
            return true;
        });
    } catch (const Error&) {
        // No lost folder yet, or none to read: nothing was left there.
    }
}

}  // namespace quorvel
