#pragma once

#include <set>
#include <string>
#include <vector>

#include "mail/LockTest.h"

namespace quorvel::testing {

// Counts the files named in `Locked` as held by another process and remembers every path asked about.
class ScriptedLockTest final : public LockTest {
public:
    bool IsLocked(const std::filesystem::path& path) const override {
        asked.push_back(path.string());
        return Locked.count(path.filename().string()) > 0;
    }
    std::set<std::string> Locked;
    mutable std::vector<std::string> asked;
};

}  // namespace quorvel::testing
