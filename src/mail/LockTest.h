#pragma once

#include <filesystem>

namespace quorvel {

// Tells whether another process still holds a file, so that a batch is never sent while a file of
// it is being written. The production test is LeaseLockTest; tests put a scripted one in its place.
class LockTest {
public:
    virtual ~LockTest() = default;
    virtual bool IsLocked(const std::filesystem::path&) const = 0;
};

}  // namespace quorvel
