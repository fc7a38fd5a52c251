#include "mail/FileMover.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Error.h"
#include "base/FileDescriptor.h"

namespace quorvel {

namespace {

constexpr unsigned kMaxNumberedNames = 100000;

void SyncFolder(const std::filesystem::path& folder) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid() || ::fsync(dir.Get()) != 0) throw SystemError("cannot flush " + folder.string());
}

// Gives `from` the first free numbered form of `name` inside `folder`, never replacing a file.
// 0 with `target` set, or the errno that stopped it.
int TryPlaceUnderFreeName(const std::filesystem::path& from, const std::filesystem::path& folder,
                          const std::string& name, std::filesystem::path& target) {
    for (unsigned n = 0; n < kMaxNumberedNames; ++n) {
        target = folder / NumberedName(name, n);
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

[[noreturn]] void CannotMove(const std::filesystem::path& from, const std::filesystem::path& target, int err) {
    throw SystemError("cannot move " + from.string() + " to " + target.string(), err);
}

void CopyContents(int in, int out, const std::filesystem::path& source, const std::filesystem::path& copy) {
    for (;;) {
        ssize_t n = ::sendfile(out, in, nullptr, 1 << 30);
        if (n == 0) return;
        if (n < 0 && errno != EINTR) throw SystemError("cannot copy " + source.string() + " to " + copy.string());
    }
}

// Copies `source` to a hidden temporary file in `folder`, flushed to disk with the source's mode
// and modification time; the caller gives it its final name.
std::filesystem::path DurableCopy(const std::filesystem::path& source, const std::filesystem::path& folder) {
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.Valid()) throw SystemError("cannot open " + source.string());
    struct stat info {};
    if (::fstat(in.Get(), &info) != 0) throw SystemError("cannot read " + source.string());

    std::string pattern = (folder / ("." + source.filename().string() + ".XXXXXX")).string();
    FileDescriptor out(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!out.Valid()) throw SystemError("cannot create a copy in " + folder.string());
    std::filesystem::path copy = pattern;
    try {
        CopyContents(in.Get(), out.Get(), source, copy);
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        ::futimens(out.Get(), times);
        if (::fchmod(out.Get(), info.st_mode & 07777) != 0 || ::fsync(out.Get()) != 0) {
            throw SystemError("cannot write " + copy.string());
        }
    } catch (...) {
        ::unlink(copy.c_str());
        throw;
    }
    return copy;
}

std::filesystem::path MoveAcrossFileSystems(const std::filesystem::path& source, const std::filesystem::path& folder) {
    std::filesystem::path copy = DurableCopy(source, folder);
    std::filesystem::path target;
    try {
        if (int err = TryPlaceUnderFreeName(copy, folder, source.filename().string(), target)) CannotMove(copy, target, err);
        SyncFolder(folder);
    } catch (...) {
        ::unlink(copy.c_str());
        throw;
    }
    // The copy is safe on disk under its final name; only now may the source go.
    if (::unlink(source.c_str()) != 0) {
        throw SystemError("copied to " + target.string() + " but cannot remove " + source.string());
    }
    return target;
}

}  // namespace

std::string NumberedName(const std::string& name, unsigned n) {
    if (n == 0) return name;
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return name + " (" + std::to_string(n) + ")";
    return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

std::filesystem::path MoveWithoutOverwrite(const std::filesystem::path& source, const std::filesystem::path& folder) {
    std::filesystem::path target;
    int err = TryPlaceUnderFreeName(source, folder, source.filename().string(), target);
    if (err == 0) return target;
    // Another file system, or one without RENAME_NOREPLACE: a durable copy, which never replaces either.
    if (err == EXDEV || err == EINVAL) return MoveAcrossFileSystems(source, folder);
    CannotMove(source, target, err);
}

}  // namespace quorvel
