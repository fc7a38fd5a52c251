#include "mail/Batch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "base/Error.h"

namespace quorvel {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::optional<Batch> Vanished(int err, const std::string& path) {
    if (err == ENOENT || err == ENOTDIR || err == ELOOP) return std::nullopt;
    throw SystemError("cannot list " + path, err);
}

}  // namespace

std::optional<Batch> Batch::Open(int parentFd, const std::string& name) {
    int fd = ::openat(parentFd, name.c_str(), kFolderFlags);
    if (fd < 0) return Vanished(errno, name);
    return Batch(fd, name);
}

std::optional<Batch> Batch::OpenPath(const std::string& path) {
    int fd = ::open(path.c_str(), kFolderFlags);
    if (fd < 0) return Vanished(errno, path);
    return Batch(fd, std::filesystem::path(path).filename().string());
}

std::vector<std::string> Batch::Names() const {
    std::vector<std::string> names;
    for (const BatchFile& file : files_) names.push_back(file.Name);
    return names;
}

std::optional<FileIdentity> LookAt(int folderFd, const std::string& name) {
    struct stat info {};
    if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return FileIdentity::Of(info);
}

void Batch::Add(const std::string& name) {
    files_.push_back({name, Look(name).value_or(FileIdentity{}), std::nullopt, std::nullopt});
}

std::string Batch::DeleteSent(const BatchFile& file) const {
    std::optional<FileIdentity> now = Look(file.Name);
    if (!now) return "";
    if (!file.Sent || !(*file.Sent == file.Listed) || !(*now == *file.Sent)) return kChangedDuringSend;
    // A read-only file is deleted all the same; a file already gone is no loss.
    if (::unlinkat(Fd(), file.Name.c_str(), 0) != 0 && errno != ENOENT) return std::strerror(errno);
    return "";
}

}  // namespace quorvel
