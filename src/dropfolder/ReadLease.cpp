#include "dropfolder/ReadLease.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>

namespace quorvel {

namespace {

// Runs on a lease break: fcntl is async-signal-safe, and the descriptor is named by the signal.
// A descriptor that holds no lease (closed and reused since) ignores the request.
void GiveUpLease(int, siginfo_t* info, void*) {
    const int saved = errno;
    ::fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
    errno = saved;
}

}  // namespace

void ReleaseLeasesOnBreak() {
    struct sigaction action {};
    action.sa_sigaction = GiveUpLease;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGURG, &action, nullptr);
}

ReadLease ReadLease::Take(int folderFd, const std::string& name, const FileIdentity& listed) {
    FileDescriptor fd(::openat(folderFd, name.c_str(),
                               O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        !(FileIdentity::Of(info) == listed)) {
        return {};
    }
    ReleaseLeasesOnBreak();
    if (::fcntl(fd.Get(), F_SETSIG, SIGURG) != 0 || ::fcntl(fd.Get(), F_SETLEASE, F_RDLCK) != 0)
        return {};
    return ReadLease(std::move(fd));
}

bool ReadLease::Broken() const { return Held() && ::fcntl(fd_.Get(), F_GETLEASE) != F_RDLCK; }

}  // namespace quorvel
