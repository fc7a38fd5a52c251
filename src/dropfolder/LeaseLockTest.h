#pragma once

#include <filesystem>

#include "dropfolder/FileSystemKind.h"
#include "dropfolder/LockTest.h"

namespace quorvel {

// The lock test of the running service. On Linux a file that another process still writes can be
// renamed, read and deleted all the same, so "held" is asked of the kernel instead:
//
// 1. The file is opened read-only without following a link and without blocking (a file replaced
//    by a link or a FIFO since it was listed is neither followed nor waited on). A file that cannot
//    be opened, or is not a regular file, counts as locked: it cannot be sent.
// 2. A write lease is taken and released at once. The kernel refuses it (EAGAIN) while any other
//    open file description of the file exists, for reading or for writing: the file is locked.
// 3. Either way, a file on which another process holds a flock or an fcntl (POSIX or
//    open-file-description) lock counts as locked.
// 4. Where a lease is not permitted (a file of another user while the service lacks CAP_LEASE) or
//    the file system has no leases, or the file lies on a network or FUSE file system (whose
//    writers on other hosts hold no open file here), a file held by nothing that can be seen is
//    Unseen: it is taken only once it has been quiet (see QuietWatch).
//
// The file's contents and times are never changed.
class LeaseLockTest final : public LockTest {
public:
    explicit LeaseLockTest(const FileSystemKind& kind) : kind_(kind) {}

    Verdict Check(const std::filesystem::path& path) const override;

private:
    const FileSystemKind& kind_;
};

}  // namespace quorvel
