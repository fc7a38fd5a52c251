#include "dropfolder/PinnedFolder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "base/Utf8Text.h"

namespace quorvel {

namespace {

std::string Describe(const FileIdentity& id) {
    return "device " + std::to_string(major(id.Device)) + ":" + std::to_string(minor(id.Device)) +
           ", inode " + std::to_string(id.Inode);
}

// What `path` is now: `follow` decides whether a link counts as what it leads to; a link not
// followed, or anything but a folder, is told by `what`.
std::optional<FileIdentity> Look(const std::string& path, bool follow, std::string& what) {
    struct stat info {};
    const int rc = follow ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (rc != 0) {
        what = "missing";
        return std::nullopt;
    }
    what = S_ISLNK(info.st_mode) ? "a link" : S_ISDIR(info.st_mode) ? "" : "not a folder";
    return FileIdentity::Of(info);
}

}  // namespace

void PinnedFolder::Pin(const std::string& path) {
    path_ = path;
    checked_ = true;
    std::string what;
    pinned_ = Look(path, true, what);
    if (!what.empty()) pinned_.reset();
}

std::string PinnedFolder::Check(const std::string& key, const std::string& path) {
    if (!checked_ || path != path_) {
        Pin(path);
        return "";
    }
    std::string what;
    std::optional<FileIdentity> now = Look(path, pinned_.has_value(), what);
    if (pinned_ && now && what.empty() && now->SameFile(*pinned_)) return "";
    if (!pinned_ && what == "missing") return "";
    if (!pinned_ && what.empty()) {
        pinned_ = now;  // a real folder where there was none
        return "";
    }
    return "[Main] " + key + " " + CleanLogText(path) +
           " is not the folder it was when the settings were checked (" +
           (pinned_ ? Describe(*pinned_) : "missing") + "; now " +
           (what.empty() ? Describe(*now) : what) + ")";
}

bool PinnedFolder::Hold(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    if (!pinned_) pinned_ = FileIdentity::Of(info);
    return FileIdentity::Of(info).SameFile(*pinned_);
}

}  // namespace quorvel
