#include "mail/LeaseLockTest.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>

#include "base/FileDescriptor.h"

namespace quorvel {

namespace {

enum class Lease { Granted, Refused, Unavailable };

// While a lease is held, another process that opens the file makes the kernel signal the holder,
// with SIGIO unless told otherwise; SIGIO would end the service. SIGURG is ignored by default and
// is used for nothing else here, so a break in the short moment of holding passes unnoticed: the
// lease is given up right away and the opener goes on.
Lease TryWriteLease(int fd) {
    if (::fcntl(fd, F_SETSIG, SIGURG) != 0) return Lease::Unavailable;
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
        return errno == EAGAIN ? Lease::Refused : Lease::Unavailable;
    }
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return Lease::Granted;
}

// Asks without taking anything: would a write lock on the whole file conflict with a lock held
// through another open file description (a POSIX lock of another process or an OFD lock)?
bool HoldsRecordLock(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) return true;
    return probe.l_type != F_UNLCK;
}

// flock has no query: try an exclusive lock without waiting and give it back. Only "would block"
// means held; where flock is not available on the file system there is nothing to learn from it.
bool HoldsFlock(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        ::flock(fd, LOCK_UN);
        return false;
    }
    return errno == EWOULDBLOCK;
}

}  // namespace

bool LeaseLockTest::IsLocked(const std::filesystem::path& path) const {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!file.Valid()) return true;
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return true;

    switch (TryWriteLease(file.Get())) {
        case Lease::Refused: return true;
        case Lease::Unavailable:
            if (ChangedRecently(info)) return true;
            break;
        case Lease::Granted: break;
    }
    return HoldsRecordLock(file.Get()) || HoldsFlock(file.Get());
}

bool LeaseLockTest::ChangedRecently(const struct stat& info) const {
    auto changed = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_ctim.tv_sec) + std::chrono::nanoseconds(info.st_ctim.tv_nsec)));
    auto age = clock_.Now() - changed;
    // A change time ahead of the clock by more than the settle time means the clock was set back;
    // waiting for it would hold the file for as long, so such a file counts as settled.
    return age < kSettleTime && age > -kSettleTime;
}

}  // namespace quorvel
