#include "config/FolderRules.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "base/FileDescriptor.h"
#include "base/Utf8Text.h"
#include "config/FolderSettings.h"

namespace quorvel {

namespace {

struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId&) const = default;
};

std::filesystem::path Resolved(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(folder, ec);
    return (ec ? folder.lexically_normal() : resolved.lexically_normal()) / "";
}

// True when `inner` is `outer` or lies inside it, component by component.
bool Within(const std::filesystem::path& inner, const std::filesystem::path& outer) {
    auto i = inner.begin(), o = outer.begin();
    for (; o != outer.end() && !o->empty(); ++i, ++o) {
        if (i == inner.end() || *i != *o) return false;
    }
    return true;
}

std::optional<FolderId> IdOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return std::nullopt;
    return FolderId{info.st_dev, info.st_ino};
}

// The folder `path` names (or, when it does not exist, the nearest folder above it that does),
// then every folder above that one up to /, each as the kernel walks "..": through mounts and
// links as they are, whatever the path's text says. `exact` tells whether the first is the folder
// itself.
std::vector<FolderId> Lineage(std::filesystem::path path, bool& exact) {
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    std::vector<FolderId> lineage;
    FileDescriptor fd(::open(path.c_str(), kFlags));
    exact = fd.Valid();
    while (!fd.Valid() && path.has_relative_path()) {
        path = path.parent_path();
        fd = FileDescriptor(::open(path.c_str(), kFlags));
    }
    for (std::optional<FolderId> id; fd.Valid() && (id = IdOf(fd.Get()));) {
        if (!lineage.empty() && lineage.back() == *id) break;  // "/" is its own parent
        lineage.push_back(*id);
        fd = FileDescriptor(::openat(fd.Get(), "..", kFlags));
    }
    return lineage;
}

bool Contains(const std::vector<FolderId>& lineage, const FolderId& id) {
    return std::find(lineage.begin(), lineage.end(), id) != lineage.end();
}

// The folders above `path`: each leading part of it, as written and with its links resolved.
std::vector<std::filesystem::path> FoldersAbove(const std::filesystem::path& path) {
    std::vector<std::filesystem::path> above;
    for (const std::filesystem::path& form : {path, Resolved(path).parent_path()}) {
        std::filesystem::path part;
        for (const std::filesystem::path& name : form.parent_path()) above.push_back(part /= name);
    }
    return above;
}

std::string Octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

}  // namespace

bool FoldersOverlap(const std::filesystem::path& a, const std::filesystem::path& b) {
    bool aExact = false, bExact = false;
    const std::vector<FolderId> la = Lineage(a, aExact), lb = Lineage(b, bExact);
    if (aExact && !la.empty() && Contains(lb, la.front())) return true;
    if (bExact && !lb.empty() && Contains(la, lb.front())) return true;
    const std::filesystem::path ra = Resolved(a), rb = Resolved(b);
    return Within(ra, rb) || Within(rb, ra);
}

std::string FolderOverlapText(const std::string& mailFolder, const std::string& lostFolder) {
    return "Каталог неотправленной почты не может совпадать с каталогом почты или лежать с ним "
           "один в другом: "
           "[Main] MailFolder = \"" +
           CleanLogText(mailFolder) + "\", [Main] LostFolder = \"" + CleanLogText(lostFolder) +
           "\"";
}

std::string FolderOverlapRule(const clsINI& Ini, const std::filesystem::path& /*appFolder*/) {
    const std::string mail = MailFolderSetting(Ini);
    const std::string lost = LostFolderSetting(Ini);
    if (mail.empty() || lost.empty() || !FoldersOverlap(mail, lost)) return "";
    return FolderOverlapText(mail, lost) + "\r\n";
}

std::vector<std::string> ExposedFolderWarnings(const clsINI& Ini) {
    std::vector<std::string> warnings;
    std::vector<FolderId> seen;
    for (const char* key : {"MailFolder", "LostFolder"}) {
        const std::string folder = FolderSetting(Ini, key);
        if (folder.empty()) continue;
        for (const std::filesystem::path& above : FoldersAbove(folder)) {
            struct stat info {};
            if (::stat(above.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
            if (Contains(seen, {info.st_dev, info.st_ino})) continue;
            seen.push_back({info.st_dev, info.st_ino});
            if (info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0) continue;
            warnings.push_back("warning: " + CleanLogText(above.string()) + ", above [Main] " +
                               key + ", can be changed by others than root (owner " +
                               std::to_string(info.st_uid) + ", mode " + Octal(info.st_mode) +
                               "): they could put another folder in its place");
        }
    }
    return warnings;
}

}  // namespace quorvel
