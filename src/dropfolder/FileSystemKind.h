#pragma once

namespace quorvel {

// Tells what kind of file system holds an open file: one whose writers the kernel here sees (a
// local disk), or one served from elsewhere (a network or FUSE file system), where another host or
// a user-space server writes the file without any open file of this host's kernel to show it. The
// production kind asks statfs; tests put a scripted one in its place.
class FileSystemKind {
public:
    virtual ~FileSystemKind() = default;
    // True when the file system of the open file or folder `fd` is served from elsewhere.
    virtual bool IsRemote(int fd) const = 0;
};

// By the file system's type as fstatfs reports it: NFS, SMB/CIFS, FUSE (sshfs and the like), 9p,
// Ceph, AFS, Coda, cluster file systems. A file system that cannot be asked counts as remote: the
// cautious answer only makes the service wait a little.
class StatfsFileSystemKind final : public FileSystemKind {
public:
    bool IsRemote(int fd) const override;
};

}  // namespace quorvel
