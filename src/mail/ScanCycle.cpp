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
#include "mail/DeferredResult.h"
#include "mail/FailureKind.h"
#include "mail/FileMover.h"
#include "mail/Scanner.h"
#include "settings/FolderRules.h"
#include "settings/GetAddress.h"

namespace quorvel {

namespace {

constexpr const char* kFailedPrefix = "Не удалось отправить файлы на адрес: ";
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// "[name] reason; [name] reason" for the files that could not be disposed of.
void AddProblem(std::string& problems, const std::string& name, const std::string& reason) {
    if (!problems.empty()) problems += "; ";
    problems += "[" + CleanHeaderText(name) + "] " + CleanHeaderText(reason);
}

// The lost folder itself, created (one level) when missing; a link there is the administrator's.
FileDescriptor OpenLostFolder(const std::string& lostFolder) {
    if (::mkdir(lostFolder.c_str(), 0755) != 0 && errno != EEXIST) throw SystemError("cannot create " + lostFolder);
    FileDescriptor fd(::open(lostFolder.c_str(), kFolderFlags));
    if (!fd.Valid()) throw SystemError("cannot open " + lostFolder);
    return fd;
}

// <LostFolder>/<folder>, created and opened without following a link: anything there that is not
// a real folder is never written through.
FileDescriptor OpenRecipientFolder(int lostFd, const std::string& lostFolder, const std::string& folder) {
    const std::string path = lostFolder + "/" + folder;
    if (::mkdirat(lostFd, folder.c_str(), 0755) != 0 && errno != EEXIST) throw SystemError("cannot create " + path);
    FileDescriptor fd(::openat(lostFd, folder.c_str(), kFolderFlags | O_NOFOLLOW));
    if (fd.Valid()) return fd;
    if (errno == ELOOP || errno == ENOTDIR) throw Error(errno, path + " is not a real folder");
    throw SystemError("cannot open " + path);
}

}  // namespace

std::string Scanner::LongestFileName() const { return quorvel::LongestFileName(Files()); }

SendOutcome Scanner::SendMail(const std::string& address, const std::string& subject) {
    return quorvel::SendMail(address, subject, *batch_, Ini(), Log(), &progress_);
}

std::string Scanner::LostFolder() { return ResolveFolder(Ini().ReadINI("LostFolder", "Main"), AppFolder()); }

// An error's text may hold a name from the mail folder; it must not forge a line of the journal.
// However the cycle ends, its descriptors are closed and its phase is over.
std::string Scanner::ProcessMail() {
    struct EndOfCycle {
        Scanner& scanner;
        ~EndOfCycle() {
            scanner.batch_.reset();
            scanner.mail_.reset();
            scanner.Enter(CyclePhase::Idle, "");
        }
    } end{*this};
    try {
        return RunCycle();
    } catch (const Error& e) {
        throw Error(e.Number(), CleanHeaderText(e.what()));
    }
}

std::string Scanner::RunCycle() {
    // An empty setting must never turn into a listing of the root folder.
    std::string mailFolder = ResolveFolder(Ini().ReadINI("MailFolder", "Main"), AppFolder());
    if (mailFolder.empty()) return "";
    Enter(CyclePhase::MailFolder, mailFolder);
    SetMailPath(mailFolder);
    if (!Exists(MailPath())) return "";

    std::string folder = FindMailFolder();
    if (folder.empty()) return "";
    Log().WriteLog("Найден непустой каталог: " + CleanHeaderText(folder));
    if (!CollectFiles()) return "";

    std::string address = GetAddress(folder, AppFolder());
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
            return kFailedPrefix + CleanHeaderText(folder) + "(" + sent.Text +
                   "; the files stay in the mail folder to be sent again)";
        case SendOutcome::Kind::Failed: break;
    }
    std::string deferred = Deferred(sent);
    if (!deferred.empty()) return deferred;
    return kFailedPrefix + CleanHeaderText(folder) + "(" + sent.Text + MoveBatchToLost() + ")";
}

// A send that failed for a passing reason keeps its batch in the mail folder while [SMTP] RetryFor
// allows: "Отправка отложена до hh:mm:ss: " and the failure text. "" when the batch is to go to the
// lost folder now (a lasting failure, no retries set, or RetryFor run out).
std::string Scanner::Deferred(const SendOutcome& sent) {
    const std::string& folder = batch_->Folder();
    RetrySettings settings;
    try {
        settings = ReadRetrySettings(Ini());
    } catch (const Error&) {
        // Changed to a bad value since the start-up check: no waiting until it is mended.
    }
    if (ClassifyFailure(sent.Number, sent.ReplyCode) == FailureKind::Lasting) {
        retries_.Forget(folder);
        return "";
    }
    std::optional<RetryBook::Time> next = retries_.Defer(folder, clock_.Now(), settings);
    if (!next) return "";
    return DeferredResultText(*next, kFailedPrefix + CleanHeaderText(folder) + "(" + sent.Text + ")");
}

std::string Scanner::DeleteSentBatch() {
    std::string changed, kept;
    for (const BatchFile& file : batch_->Files()) {
        std::string reason = batch_->DeleteSent(file);
        if (reason.empty()) continue;
        if (reason == kChangedDuringSend) {
            AddProblem(changed, file.Name, reason);
            continue;
        }
        // Mailed once; not again while it stays as it is.
        undeletable_.push_back({batch_->Folder(), file.Name, batch_->Look(file.Name).value_or(FileIdentity{})});
        AddProblem(kept, file.Name, reason);
    }
    std::string result = "ok";
    if (!changed.empty()) result += "; not deleted: " + changed;
    if (!kept.empty()) result += "; sent but cannot be deleted, not sent again while unchanged: " + kept;
    return result;
}

// Moves every file of the batch into <LostFolder>/<folder>/; "" when all went, otherwise
// "; " and the reasons, for the failure text. A file that could not be moved stays where it was.
std::string Scanner::MoveBatchToLost() {
    const std::string lostFolder = LostFolder();
    if (lostFolder.empty()) return "; LostFolder is empty";
    if (FoldersOverlap(MailPath(), lostFolder)) {
        return "; " + FolderOverlapText(MailPath(), lostFolder) + ", the files stay in the mail folder";
    }
    Enter(CyclePhase::LostFolder, lostFolder);
    FileDescriptor target;
    try {
        target = OpenRecipientFolder(OpenLostFolder(lostFolder).Get(), lostFolder, batch_->Folder());
    } catch (const Error& e) {
        return "; " + CleanHeaderText(e.what()) + ", the files stay in the mail folder";
    }
    quorvel::RemoveStaleCopies(target.Get());
    std::string problems;
    for (const BatchFile& file : batch_->Files()) {
        try {
            MoveWithoutOverwrite(batch_->Fd(), file.Name, file.Listed, target.Get());
        } catch (const Error& e) {
            AddProblem(problems, file.Name, e.what());
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
            FileDescriptor folder(::openat(lost.Fd(), std::string(name).c_str(), kFolderFlags | O_NOFOLLOW));
            if (folder.Valid()) quorvel::RemoveStaleCopies(folder.Get());
            return true;
        });
    } catch (const Error&) {
        // No lost folder yet, or none to read: nothing was left there.
    }
}

}  // namespace quorvel
