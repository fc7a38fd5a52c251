#pragma once

#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "base/Clock.h"
#include "mail/LockTest.h"

namespace quorvel {

// The lock test of the running service. On Linux a file that another process still writes can be
// renamed, read and deleted all the same, so "held" is asked of the kernel instead:
//
// 1. The file is opened read-only without following a link and without blocking (a file replaced
//    by a link or a FIFO since it was listed is neither followed nor waited on). A file that cannot
//    be opened, or is not a regular file, counts as locked: it cannot be sent.
// 2. A write lease is taken and released at once. The kernel refuses it (EAGAIN) while any other
//    open file description of the file exists, for reading or for writing: the file is locked.
// 3. Where a lease is not permitted (a file of another user while the service lacks CAP_LEASE) or
//    the file system has no leases, a file changed (st_ctime: every write, truncation, rename or
//    attribute change) less than kSettleTime ago counts as locked instead.
// 4. Either way, a file on which another process holds a flock or an fcntl (POSIX or
//    open-file-description) lock counts as locked.
//
// The file's contents and times are never changed.
class LeaseLockTest final : public LockTest {
public:
    static constexpr std::chrono::seconds kSettleTime{2};

    explicit LeaseLockTest(const Clock& clock) : clock_(clock) {}

    bool IsLocked(const std::filesystem::path& path) const override;

private:
    bool ChangedRecently(const struct stat& info) const;

    const Clock& clock_;
};

}  // namespace quorvel
