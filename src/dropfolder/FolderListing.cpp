#include "dropfolder/FolderListing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/Error.h"

namespace quorvel {

namespace {

constexpr int kListFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

EntryKind KindOfMode(mode_t mode) {
    if (S_ISDIR(mode)) return EntryKind::Folder;
    if (S_ISREG(mode)) return EntryKind::File;
    return EntryKind::System;
}

EntryKind KindOf(int folderFd, const dirent& entry) {
    switch (entry.d_type) {
        case DT_DIR:
            return EntryKind::Folder;
        case DT_REG:
            return EntryKind::File;
        case DT_UNKNOWN:
            break;
        default:
            return EntryKind::System;
    }
    struct stat info {};
    if (::fstatat(folderFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return EntryKind::System;  // gone since the folder was read: nothing left to see
    }
    return KindOfMode(info.st_mode);
}

// The entry went away or changed its kind between two looks: not an error, just nothing there.
bool IsVanished(int err) { return err == ENOENT || err == ENOTDIR || err == ELOOP; }

}  // namespace

FolderListing::FolderListing(int fd, std::string path) : path_(std::move(path)) {
    dir_.reset(::fdopendir(fd));
    if (!dir_) {
        int err = errno;
        ::close(fd);
        throw SystemError("cannot list " + path_, err);
    }
}

std::optional<FolderListing> FolderListing::FromOpenResult(int fd, int err, std::string path) {
    if (fd >= 0) return FolderListing(fd, std::move(path));
    if (IsVanished(err)) return std::nullopt;
    throw SystemError("cannot list " + path, err);
}

FolderListing FolderListing::Open(const std::string& path) {
    int fd = ::open(path.c_str(), kListFlags);
    if (fd < 0) throw SystemError("cannot list " + (path.empty() ? "an empty folder path" : path));
    return FolderListing(fd, path);
}

std::optional<FolderListing> FolderListing::OpenSubfolder(const std::string& name) const {
    int fd = ::openat(::dirfd(dir_.get()), name.c_str(), kListFlags | O_NOFOLLOW);
    int err = errno;
    return FromOpenResult(fd, err, path_ + "/" + name);
}

void FolderListing::ForEach(const Visit& visit) {
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir_.get());
        if (entry == nullptr) {
            if (errno != 0) throw SystemError("cannot list " + path_);
            return;
        }
        if (entry->d_name[0] == '.') continue;
        EntryKind kind = KindOf(::dirfd(dir_.get()), *entry);
        if (kind == EntryKind::System) continue;
        if (!visit(entry->d_name, kind)) return;
    }
}

}  // namespace quorvel
