#include "mail/Scanner.h"

#include <algorithm>
#include <utility>

#include "base/Error.h"
#include "mail/FolderListing.h"
#include "mail/HeaderEncoding.h"

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

// Stops at the first visible file, so that an empty recipient folder costs one short read.
bool HoldsFile(FolderListing& folder) {
    bool found = false;
    folder.ForEach([&](std::string_view, EntryKind kind) {
        found = kind == EntryKind::File;
        return !found;
    });
    return found;
}

bool HoldsFile(const FolderListing& mail, const Candidate& candidate) {
    if (!candidate.isFolder) return false;
    std::optional<FolderListing> folder = mail.OpenSubfolder(candidate.name);
    return folder && HoldsFile(*folder);
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

Scanner::Scanner(std::filesystem::path appFolder, const MailLog& log, const LockTest& lockTest)
    : appFolder_(std::move(appFolder)), log_(log), lockTest_(lockTest) {}

std::string Scanner::FindMailFolder() {
    idx_ = 0;
    folders_.clear();
    FolderListing mail = FolderListing::Open(mailPath_);
    std::vector<Candidate> candidates = ListCandidates(mail);
    folders_.reserve(candidates.size());
    for (const Candidate& candidate : candidates) folders_.push_back(candidate.name);

    for (idx_ = 0; idx_ < candidates.size(); ++idx_) {
        if (HoldsFile(mail, candidates[idx_])) return folders_[idx_];
    }
    return "";
}

bool Scanner::CollectFiles() {
    if (idx_ >= folders_.size()) {
        throw Error(EINVAL, "no recipient folder of " + mailPath_ + " has been chosen to collect");
    }
    const std::string folderPath = mailPath_ + "/" + folders_[idx_];
    files_.clear();
    std::optional<FolderListing> folder = FolderListing::OpenIfFolder(folderPath);
    if (!folder) return false;

    std::string found;
    for (std::string& name : ListFiles(*folder)) {
        if (IsLocked(folderPath + "/" + name)) {
            log_.WriteLog("Файл " + CleanHeaderText(name) + " заблокирован и не может быть отправлен");
            return false;
        }
        found += "[" + CleanHeaderText(name) + "] ";
        files_.push_back(std::move(name));
    }
    if (files_.empty()) return false;
    log_.WriteLog("Найдены файлы к отправке: " + found);
    return true;
}

}  // namespace quorvel
