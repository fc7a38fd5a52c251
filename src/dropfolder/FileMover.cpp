#include "dropfolder/FileMover.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string_view>

#include "base/Error.h"
#include "base/FileDescriptor.h"
#include "base/Utf8Text.h"

namespace quorvel {

namespace {

constexpr unsigned kMaxNumberedNames = 100000;
constexpr std::size_t kMaxName = 255;
// Temporary copies are hidden, short whatever the file's name, and recognisable as the service's.
constexpr std::string_view kCopyPrefix = ".quorvel-copy-";

// Gives the entry `from` of `fromFd` the first free numbered form of `name` inside `toFd`, never
// replacing a file. 0 with `target` set, or the errno that stopped it.
int TryPlaceUnderFreeName(int fromFd, const std::string& from, int toFd, const std::string& name,
                          std::string& target, const RenameCall& rename) {
    for (unsigned n = 0; n < kMaxNumberedNames; ++n) {
        target = NumberedName(name, n);
        if (rename(fromFd, from.c_str(), toFd, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

[[noreturn]] void CannotMove(const std::string& from, const std::string& target, int err) {
    throw SystemError("cannot move " + from + " to " + target, err);
}

// The bytes the copy of a file of `info` will take: its data, not the holes of a sparse file.
std::uintmax_t BytesNeeded(const struct stat& info) {
    return std::min(static_cast<std::uintmax_t>(info.st_size),
                    static_cast<std::uintmax_t>(info.st_blocks) * 512);
}

// Refuses a copy that the file system of `toFd` has no room for, before a byte is written.
void CheckRoom(int toFd, const struct stat& info, const std::string& name) {
    struct statvfs room {};
    if (::fstatvfs(toFd, &room) != 0) return;  // not told: the copy itself finds out
    const std::uintmax_t needed = BytesNeeded(info),
                         free = std::uintmax_t{room.f_bavail} * room.f_frsize;
    if (needed > free) {
        throw SystemError("cannot copy " + name + " (" + std::to_string(needed) + " bytes, " +
                              std::to_string(free) + " free in the lost folder)",
                          ENOSPC);
    }
}

// Copies the first `size` bytes of `in` to `out` region by region of data: the holes of a sparse
// file stay holes (where the file system cannot tell, the rest of the file is one region).
void CopyContents(int in, int out, off_t size, const std::string& name) {
    for (off_t at = 0; at < size;) {
        off_t data = ::lseek(in, at, SEEK_DATA), end = size;
        if (data < 0 && errno == ENXIO) break;  // only a hole is left
        if (data < 0 && errno == EINVAL) {
            data = at;  // a file system that cannot tell: the rest is data
        } else if (data < 0 || (end = ::lseek(in, data, SEEK_HOLE)) < 0) {
            throw SystemError("cannot copy " + name);
        }
        if (::lseek(out, data, SEEK_SET) < 0) throw SystemError("cannot copy " + name);
        for (end = std::min(end, size); data < end;) {
            ssize_t n = ::sendfile(out, in, &data, static_cast<std::size_t>(end - data));
            if (n == 0) break;  // cut short meanwhile: the check after the copy sees it
            if (n < 0 && errno != EINTR) throw SystemError("cannot copy " + name);
        }
        at = std::max(end, at + 1);
    }
    if (::ftruncate(out, size) != 0) throw SystemError("cannot copy " + name);
}

// A new, empty temporary copy in `toFd`; its name goes to `copy`.
FileDescriptor CreateCopy(int toFd, std::string& copy) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        copy = std::string(kCopyPrefix) + std::to_string(random() % 1000000000u);
        int fd = ::openat(toFd, copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0600);
        if (fd >= 0) return FileDescriptor(fd);
        if (errno != EEXIST) break;
    }
    throw SystemError("cannot create a copy of the file in the lost folder");
}

// Copies the source (as `info` describes it) to a temporary file in `toFd`, flushed to disk with
// the source's mode and modification time; the caller gives it its final name.
std::string DurableCopy(int in, const struct stat& info, const std::string& name, int toFd) {
    CheckRoom(toFd, info, name);
    std::string copy;
    FileDescriptor out = CreateCopy(toFd, copy);
    try {
        CopyContents(in, out.Get(), info.st_size, name);
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        ::futimens(out.Get(), times);
        // The copy is the service's own file (root's, as a rule): it keeps the permission bits, but
        // never set-user-ID, set-group-ID or sticky, which a dropped file must not gain through us.
        if (::fchmod(out.Get(), info.st_mode & 0777) != 0 || ::fsync(out.Get()) != 0) {
            throw SystemError("cannot write the copy of " + name);
        }
    } catch (...) {
        ::unlinkat(toFd, copy.c_str(), 0);
        throw;
    }
    return copy;
}

// True when the source is, by descriptor and by name, still the file as it was when its copy began.
bool Unchanged(int in, int fromFd, const std::string& name, const struct stat& before) {
    struct stat now {
    }, named{};
    return ::fstat(in, &now) == 0 &&
           ::fstatat(fromFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           FileIdentity::Of(now) == FileIdentity::Of(before) &&
           FileIdentity::Of(named) == FileIdentity::Of(before);
}

std::string MoveAcrossFileSystems(int fromFd, const std::string& name, const FileIdentity& expected,
                                  int toFd, const RenameCall& rename) {
    FileDescriptor in(
        ::openat(fromFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!in.Valid() || ::fstat(in.Get(), &info) != 0) throw SystemError("cannot open " + name);
    if (!S_ISREG(info.st_mode) || !FileIdentity::Of(info).SameFile(expected)) {
        throw Error(ESTALE, "cannot move " + name + ": it was replaced since it was listed");
    }
    std::string copy = DurableCopy(in.Get(), info, name, toFd);
    std::string target;
    try {
        if (int err = TryPlaceUnderFreeName(toFd, copy, toFd, name, target, rename))
            CannotMove(copy, target, err);
        if (::fsync(toFd) != 0) throw SystemError("cannot flush the lost folder");
    } catch (...) {
        ::unlinkat(toFd, copy.c_str(), 0);
        throw;
    }
    // Written to meanwhile: the copy would lose what came after it, so the file stays instead.
    if (!Unchanged(in.Get(), fromFd, name, info)) {
        ::unlinkat(toFd, target.c_str(), 0);
        throw Error(ESTALE, "cannot move " + name + ": it changed while it was copied");
    }
    // The copy is safe on disk under its final name; only now may the source go.
    if (::unlinkat(fromFd, name.c_str(), 0) != 0) {
        throw SystemError("copied to " + target + " but cannot remove " + name);
    }
    return target;
}

}  // namespace

std::string NumberedName(const std::string& name, unsigned n) {
    if (n == 0) return name;
    const std::string number = " (" + std::to_string(n) + ")";
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) dot = name.size();
    std::string stem = name.substr(0, dot), extension = name.substr(dot);
    if (stem.size() + number.size() + extension.size() > kMaxName) {
        const std::size_t room = kMaxName - number.size();
        if (extension.size() > room / 2)
            extension =
                std::string(CutAtCharacter(extension, room - std::min(stem.size(), room / 2)));
        stem = std::string(CutAtCharacter(stem, room - extension.size()));
    }
    return stem + number + extension;
}

std::string MoveWithoutOverwrite(int fromFd, const std::string& name, const FileIdentity& expected,
                                 int toFd, const RenameCall& rename) {
    struct stat info {};
    if (::fstatat(fromFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        throw SystemError("cannot move " + name);
    if (!S_ISREG(info.st_mode) || !FileIdentity::Of(info).SameFile(expected)) {
        throw Error(ESTALE, "cannot move " + name + ": it was replaced since it was listed");
    }
    std::string target;
    int err = TryPlaceUnderFreeName(fromFd, name, toFd, name, target, rename);
    if (err == 0) return target;
    // Another file system, or one without RENAME_NOREPLACE: a durable copy, which never replaces
    // either.
    if (err == EXDEV || err == EINVAL)
        return MoveAcrossFileSystems(fromFd, name, expected, toFd, rename);
    CannotMove(name, target, err);
}

void RemoveStaleCopies(int folderFd) {
    FileDescriptor own(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = own.Valid() ? ::fdopendir(own.Get()) : nullptr;
    if (dir == nullptr) return;
    own.Release();
    while (const dirent* entry = ::readdir(dir)) {
        if (std::string_view(entry->d_name).substr(0, kCopyPrefix.size()) == kCopyPrefix) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);  // a folder of that name is left alone
        }
    }
    ::closedir(dir);
}

}  // namespace quorvel
