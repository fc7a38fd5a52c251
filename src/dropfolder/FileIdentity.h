#pragma once

#include <sys/stat.h>

#include <cstdint>

namespace quorvel {

// Which file a name stood for, and what shows a change of it: the device and inode say which
// file, the size and the modification and change times say whether it is still as it was.
struct FileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    std::uintmax_t Size = 0;
    struct timespec Modified {};
    struct timespec Changed {};

    static FileIdentity Of(const struct stat& info) {
        return {info.st_dev, info.st_ino, static_cast<std::uintmax_t>(info.st_size), info.st_mtim,
                info.st_ctim};
    }

    bool SameFile(const FileIdentity& other) const {
        return Device == other.Device && Inode == other.Inode;
    }

    bool operator==(const FileIdentity& other) const {
        return SameFile(other) && Size == other.Size && Same(Modified, other.Modified) &&
               Same(Changed, other.Changed);
    }

private:
    static bool Same(const struct timespec& a, const struct timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }
};

}  // namespace quorvel
