#include "dropfolder/FileSystemKind.h"

#include <sys/vfs.h>

#include <algorithm>
#include <array>

namespace quorvel {

namespace {

// The f_type values of file systems whose writers may be on another host or behind a user-space
// server.
constexpr std::array<unsigned long, 15> kRemoteTypes{
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x65735546,  // FUSE
    0x01021997,  // 9p
    0x00C36400,  // Ceph
    0x5346414F,  // AFS
    0x6B414653,  // kAFS
    0x73757245,  // Coda
    0x564C,      // NCP
    0x7461636F,  // OCFS2
    0x01161970,  // GFS2
    0x0BD00BD0,  // Lustre
    0x47504653,  // GPFS
};

}  // namespace

bool StatfsFileSystemKind::IsRemote(int fd) const {
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) return true;
    const auto type = static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFUL;
    return std::find(kRemoteTypes.begin(), kRemoteTypes.end(), type) != kRemoteTypes.end();
}

}  // namespace quorvel
