#pragma once

#include <string>

#include "base/FileDescriptor.h"
#include "dropfolder/FileIdentity.h"

namespace quorvel {

// A read lease on one file of a batch, held from its listing to its deletion, so that a writer who
// opens the file in between is seen even when he has not written yet: his open (for writing, or a
// truncation) breaks the lease. The kernel tells the holder with SIGURG; its handler gives the
// lease up at once, so the writer's open goes on without waiting out the kernel's
// lease-break-time, and Broken() tells afterwards that the lease is gone. Reading the file, as the
// send does, breaks nothing.
//
// No lease is held where none can be had: a file system without leases, a file of another user
// while the service lacks CAP_LEASE, or a file changed since its listing. Then Held() is false and
// the caller asks the lock test again instead.
class ReadLease {
public:
    ReadLease() = default;

    // A lease on the entry `name` of `folderFd` when it is still the file `listed`.
    static ReadLease Take(int folderFd, const std::string& name, const FileIdentity& listed);

    bool Held() const { return fd_.Valid(); }
    // The file as the lease holds it open: read-only, the listed file.
    int Fd() const { return fd_.Get(); }
    // True when the lease was held and someone opened the file for writing or truncated it since.
    bool Broken() const;

private:
    explicit ReadLease(FileDescriptor fd) : fd_(std::move(fd)) {}

    FileDescriptor fd_;
};

// Makes SIGURG give up the lease of the descriptor that it names (a lease break), and nothing else.
void ReleaseLeasesOnBreak();

}  // namespace quorvel
