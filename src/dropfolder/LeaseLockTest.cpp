#include "dropfolder/LeaseLockTest.h"

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
// with SIGIO unless told otherwise; SIGIO would end the service. SIGURG is used for lease breaks
// and nothing else here: ignored by default, or given to the handler that gives a lease up (see
// ReadLease), so a break in the short moment of holding passes unnoticed and the opener goes on.
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

LockTest::Verdict LeaseLockTest::Check(const std::filesystem::path& path) const {
    FileDescriptor file(
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!file.Valid()) return Verdict::Locked;
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return Verdict::Locked;

    const Lease lease = TryWriteLease(file.Get());
    if (lease == Lease::Refused || HoldsRecordLock(file.Get()) || HoldsFlock(file.Get()))
        return Verdict::Locked;
    if (lease == Lease::Unavailable || kind_.IsRemote(file.Get())) return Verdict::Unseen;
    return Verdict::Free;
}

}  // namespace quorvel
