// The scan cycle: one recipient folder found, its batch sent, then deleted or moved to the lost
// folder. Every file of the batch is accounted for: delivered and deleted, moved, or still waiting
// in the mail folder with its reason in the cycle's result. Names from the file system go into
// mail.log and the journal with their control characters replaced, so that a name cannot forge a
// line of either.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/Error.h"
#include "mail/FileMover.h"
#include "mail/HeaderEncoding.h"
#include "mail/Scanner.h"
#include "mail/SendMail.h"
#include "settings/GetAddress.h"

namespace quorvel {

namespace {

// A folder path from options.ini with one trailing "/" (or "\") removed.
std::string WithoutTrailingSlash(std::string path) {
    if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// "[name] reason; [name] reason" for the files that could not be disposed of.
void AddProblem(std::string& problems, const std::string& name, const std::string& reason) {
    if (!problems.empty()) problems += "; ";
    problems += "[" + CleanHeaderText(name) + "] " + CleanHeaderText(reason);
}

// Creates `folder` (one level) unless it is there already; throws Error naming it.
void EnsureFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST) return;
    throw SystemError("cannot create " + folder.string());
}

}  // namespace

std::string Scanner::LongestFileName() const { return quorvel::LongestFileName(Files()); }

std::string Scanner::SendMail(const std::string& address, const std::string& subject, const std::string& folder) {
    return quorvel::SendMail(address, subject, folder, MailPath(), Files(), Ini(), Log());
}

std::string Scanner::ProcessMail() {
    // An empty setting must never turn into a listing of the root folder.
    std::string mailFolder = WithoutTrailingSlash(Ini().ReadINI("MailFolder", "Main"));
    if (mailFolder.empty()) return "";
    SetMailPath(mailFolder);
    if (!Exists(MailPath())) return "";

    std::string folder = FindMailFolder();
    if (folder.empty()) return "";
    Log().WriteLog("Найден непустой каталог: " + CleanHeaderText(folder));
    if (!CollectFiles()) return "";

    std::string address = GetAddress(folder, AppFolder());
    std::string subject = LongestFileName();
    std::string result = SendMail(address, subject, folder);
    if (result == "ok") return DeleteSentBatch(folder);
    return "Не удалось отправить файлы на адрес: " + CleanHeaderText(folder) + "(" + result + MoveBatchToLost(folder) + ")";
}

std::string Scanner::DeleteSentBatch(const std::string& folder) {
    std::string problems;
    const std::filesystem::path source = std::filesystem::path(MailPath()) / folder;
    for (const std::string& name : Files()) {
        // A read-only file is deleted all the same; a file already gone is no loss.
        if (::unlink((source / name).c_str()) != 0 && errno != ENOENT) AddProblem(problems, name, std::strerror(errno));
    }
    if (problems.empty()) return "ok";
    return "ok; not deleted, and so to be sent again: " + problems;
}

// Moves every file of the batch into <LostFolder>/<folder>/; "" when all went, otherwise
// "; " and the reasons, for the failure text. A file that could not be moved stays where it was.
std::string Scanner::MoveBatchToLost(const std::string& folder) {
    std::string lostFolder = WithoutTrailingSlash(Ini().ReadINI("LostFolder", "Main"));
    if (lostFolder.empty()) return "; LostFolder is empty";
    const std::filesystem::path target = std::filesystem::path(lostFolder) / folder;
    try {
        EnsureFolder(lostFolder);
        EnsureFolder(target);
    } catch (const Error& e) {
        return std::string("; ") + e.what() + ", the files stay in the mail folder";
    }
    std::string problems;
    const std::filesystem::path source = std::filesystem::path(MailPath()) / folder;
    for (const std::string& name : Files()) {
        try {
            MoveWithoutOverwrite(source / name, target);
        } catch (const Error& e) {
            AddProblem(problems, name, e.what());
        }
    }
    return problems.empty() ? "" : "; not moved, still in the mail folder: " + problems;
}

}  // namespace quorvel
