#pragma once

#include <set>
#include <string>

#include "mail/LockTest.h"

namespace quorvel::testing {

// Counts the files named in `Locked` as held by another process.
class ScriptedLockTest final : public LockTest {
public:
    bool IsLocked(const std::filesystem::path& path) const override {
        return Locked.count(path.filename().string()) > 0;
    }
    std::set<std::string> Locked;
};

}  // namespace quorvel::testing
