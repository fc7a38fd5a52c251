// The scan cycle, top to bottom: the mail folder checked, a recipient folder chosen, its batch
// collected, composed and sent, then deleted, kept, deferred or moved to the lost folder. Every
// file of the batch is accounted for: delivered and deleted, moved, or still waiting in the mail
// folder with its reason in the cycle's result. Every step after the listing works relative to the
// descriptors of the recipient folder and of the lost folder, never by a path resolved again.
// Names from the file system go into mail.log and the journal with their control characters
// replaced, so that a name cannot forge a line of either.

#include "base/Error.h"
#include "base/Utf8Text.h"
#include "config/FolderSettings.h"
#include "config/GetAddress.h"
#include "config/RetryRules.h"
#include "delivery/Scanner.h"
#include "smtp/FailureKind.h"

namespace quorvel {

namespace {

// How a sent file that stays is noted in the cycle's result (one deleted is not noted).
FileNote::Kind NoteKind(SentFileDeletion::Kind kind) {
    switch (kind) {
        case SentFileDeletion::Kind::ChangedDuringSend:
            return FileNote::Kind::ChangedDuringSend;
        case SentFileDeletion::Kind::OpenedDuringSend:
            return FileNote::Kind::OpenedDuringSend;
        case SentFileDeletion::Kind::Deleted:
        case SentFileDeletion::Kind::Failed:
            break;
    }
    return FileNote::Kind::Undeletable;
}

}  // namespace

std::string Scanner::LostFolder() { return LostFolderSetting(Ini()); }

void Scanner::PinFolders() {
    mailPin_.Pin(MailFolderSetting(Ini()));
    lostPin_.Pin(LostFolder());
    replacedFolder_.clear();
}

// An error's text may hold a name from the mail folder; it must not forge a line of the journal.
// However the cycle ends, its phase is over; the open mail folder and the batch, with its claim and
// leases, end with the steps that hold them.
CycleResult Scanner::ProcessMail() {
    struct EndOfCycle {
        Scanner& scanner;
        ~EndOfCycle() { scanner.Enter(CyclePhase::Idle, ""); }
    } end{*this};
    try {
        Ini().Load();
        return RunCycle();
    } catch (const Error& e) {
        throw Error(e.Number(), CleanLogText(e.what()));
    }
}

CycleResult Scanner::RunCycle() {
    // An empty setting must never turn into a listing of the root folder.
    std::string mailFolder = MailFolderSetting(Ini());
    missingMailFolder_.clear();
    if (mailFolder.empty()) return {};
    Enter(CyclePhase::MailFolder, mailFolder);
    if (!IsFolder(mailFolder)) {
        missingMailFolder_ = mailFolder;
        return {};
    }
    if (std::optional<CycleResult> replaced = CheckPinnedFolders(mailFolder)) return *replaced;
    if (!replacedFolder_.empty()) return {};  // still swapped, and said so before

    std::optional<ChosenFolder> chosen = FindMailFolder(mailFolder);
    if (!chosen) return {};
    log_.WriteLog("Найден непустой каталог: " + CleanLogText(chosen->Name));
    std::optional<Batch> batch = CollectFiles(std::move(*chosen));
    if (!batch) return {};
    return Deliver(*batch, mailFolder);
}

// Nothing is sent while a named folder is not the one pinned: the result names it the first time,
// and the folder stays in ReplacedFolder() until it is back.
std::optional<CycleResult> Scanner::CheckPinnedFolders(const std::string& mailFolder) {
    std::string problem = mailPin_.Check("MailFolder", mailFolder), folder = mailFolder;
    if (const std::string lost = LostFolder(); problem.empty() && !lost.empty()) {
        problem = lostPin_.Check("LostFolder", lost);
        folder = lost;
    }
    if (problem.empty() || folder == replacedFolder_) {
        if (problem.empty()) replacedFolder_.clear();
        return std::nullopt;
    }
    replacedFolder_ = folder;
    return CycleResult::Of(CycleResult::Kind::FolderReplaced, folder, problem);
}

// Composes and sends the batch, then disposes of it as the send ended.
CycleResult Scanner::Deliver(Batch& batch, const std::string& mailFolder) {
    const std::string& folder = batch.Folder();
    std::string address = GetAddress(folder, Ini());
    std::string subject = LongestFileName(batch.Names());
    Enter(CyclePhase::Sending, "");
    SendOutcome sent = SendMail(address, subject, batch, Ini(), log_, tokens_, &progress_);
    Enter(CyclePhase::MailFolder, mailFolder);
    switch (sent.Result) {
        case SendOutcome::Kind::Sent:
            retries_.Forget(folder);
            return DeleteSentBatch(batch);
        case SendOutcome::Kind::LocalChange:
            // No fault of the server's or the batch's: no retry time is counted for it.
            return CycleResult::Of(CycleResult::Kind::Kept, folder, sent.Text);
        case SendOutcome::Kind::Failed:
            break;
    }
    if (std::optional<RetryBook::Time> next = NextTry(folder, sent)) {
        CycleResult deferred = CycleResult::Of(CycleResult::Kind::Deferred, folder, sent.Text);
        deferred.RetryAt = next;
        return deferred;
    }
    return MoveBatchToLost(batch, mailFolder, sent.Text);
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
// allows: the time of its next try. Nothing when the batch is to go to the lost folder now (a
// lasting failure, no retries set, or RetryFor run out).
std::optional<RetryBook::Time> Scanner::NextTry(const std::string& folder,
                                                const SendOutcome& sent) {
    const RetrySettings settings = CurrentRetrySettings();
    if (ClassifyFailure(sent.Number, sent.ReplyCode) == FailureKind::Lasting) {
        retries_.Forget(folder);
        return std::nullopt;
    }
    return retries_.Defer(folder, clock_.Now(), settings);
}

CycleResult Scanner::DeleteSentBatch(const Batch& batch) {
    CycleResult result = CycleResult::Of(CycleResult::Kind::Sent, batch.Folder());
    for (std::size_t index = 0; index < batch.Files().size(); ++index) {
        const std::string& name = batch.Files()[index].Name;
        // A file that no lease watched is tested again right before its deletion.
        const bool inUse =
            !batch.Watched(index) && LockVerdict(batch, name) == LockTest::Verdict::Locked;
        const SentFileDeletion deletion = batch.DeleteSent(index, inUse);
        if (deletion.What == SentFileDeletion::Kind::Deleted) continue;
        if (deletion.What == SentFileDeletion::Kind::Failed) {
            // Mailed once; not again while it stays as it is.
            undeletable_.Add(batch.Folder(), name, batch.Look(name).value_or(FileIdentity{}));
        }
        result.Notes.push_back({name, NoteKind(deletion.What), DeletionReason(deletion)});
    }
    return result;
}

}  // namespace quorvel
