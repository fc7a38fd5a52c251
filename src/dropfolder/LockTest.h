#pragma once

#include <filesystem>

namespace quorvel {

// Tells whether another process still holds a file, so that a batch is never sent while a file of
// it is being written. The production test is LeaseLockTest; tests put a scripted one in its place.
class LockTest {
public:
    // Free: nobody holds the file. Locked: someone does. Unseen: nobody holds it as far as this
    // host can tell, but writers can be out of its sight (a network or FUSE file system, or no
    // lease to be had), so the file is taken only once it has been quiet for a while.
    enum class Verdict { Free, Locked, Unseen };

    virtual ~LockTest() = default;
    virtual Verdict Check(const std::filesystem::path&) const = 0;
};

}  // namespace quorvel
