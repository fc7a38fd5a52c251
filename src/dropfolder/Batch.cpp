#include "dropfolder/Batch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "base/Error.h"

namespace quorvel {

namespace {

// Opens a folder, never a link in its place.
constexpr int kOpenFolderNoLink = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::optional<Batch> Vanished(int err, const std::string& path) {
    if (err == ENOENT || err == ENOTDIR || err == ELOOP) return std::nullopt;
    throw SystemError("cannot list " + path, err);
}

}  // namespace

// A file system without flock (some network file systems) gives no claim; the folder is sent all
// the same, as before claims existed.
Batch::Batch(int fd, std::string name) : folder_(fd), name_(std::move(name)) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        claim_ = Claim::Ours;
    else if (errno == EWOULDBLOCK)
        claim_ = Claim::Another;
}

std::optional<Batch> Batch::Open(int parentFd, const std::string& name) {
    int fd = ::openat(parentFd, name.c_str(), kOpenFolderNoLink);
    if (fd < 0) return Vanished(errno, name);
    return Batch(fd, name);
}

std::optional<Batch> Batch::OpenPath(const std::string& path) {
    int fd = ::open(path.c_str(), kOpenFolderNoLink);
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
    leases_.push_back(leases_.size() < kMaxLeases
                          ? ReadLease::Take(Fd(), name, files_.back().Listed)
                          : ReadLease());
}

// The same file and size throughout, and its content now is what was streamed: a writer that only
// set its mode or times after closing it (cp; chmod, an upload that sets the times) changed
// nothing the recipient lacks.
bool Batch::SameContent(std::size_t index, const FileIdentity& now) const {
    const BatchFile& file = files_[index];
    if (!file.Sent || !file.SentDigest || !now.SameFile(file.Listed) ||
        !file.Sent->SameFile(file.Listed) || now.Size != file.Listed.Size ||
        file.Sent->Size != file.Listed.Size) {
        return false;
    }
    FileDescriptor opened;
    int fd = leases_[index].Fd();
    if (!leases_[index].Held()) {
        opened = FileDescriptor(::openat(
            Fd(), file.Name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
        fd = opened.Get();
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0 || !now.SameFile(FileIdentity::Of(info)))
            return false;
    }
    return DigestOfFile(fd, file.Listed.Size) == file.SentDigest;
}

SentFileDeletion Batch::DeleteSent(std::size_t index, bool inUse) const {
    using Kind = SentFileDeletion::Kind;
    const BatchFile& file = files_[index];
    std::optional<FileIdentity> now = Look(file.Name);
    if (!now) return {Kind::Deleted};
    const bool unchanged = file.Sent && *file.Sent == file.Listed && *now == *file.Sent;
    if (!unchanged && !SameContent(index, *now)) return {Kind::ChangedDuringSend};
    if (inUse || leases_[index].Broken()) return {Kind::OpenedDuringSend};
    // A read-only file is deleted all the same; a file already gone is no loss.
    if (::unlinkat(Fd(), file.Name.c_str(), 0) != 0 && errno != ENOENT)
        return {Kind::Failed, errno};
    return {Kind::Deleted};
}

}  // namespace quorvel
