#pragma once

#include <filesystem>
#include <string>

#include "base/FileDescriptor.h"

namespace quorvel {

// Keeps a second service from running with the same options.ini: a POSIX write lock on a small
// file beside it, held for as long as the process lives (the kernel lets it go when the process
// ends, however it ends). The lock tells a second process the first one's pid.
class InstanceLock {
public:
    explicit InstanceLock(std::filesystem::path file) : file_(std::move(file)) {}

    // Takes the lock, or keeps it when held already. "" when this process holds it, or when the
    // file cannot be opened (a read-only folder: nothing to tell, so nothing is refused);
    // otherwise the refusal, naming the pid of the service that holds it, ending in CR LF.
    std::string Take();

private:
    std::filesystem::path file_;
    FileDescriptor fd_;
};

}  // namespace quorvel
