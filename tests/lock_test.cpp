#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "base/FileDescriptor.h"
#include "dropfolder/LeaseLockTest.h"
#include "support/SshfsMount.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Verdict = LockTest::Verdict;

// Holds `path` the way another program would: open for writing (0) or reading (1), or with a flock
// (2) or a record lock (3), each seen by the lock test through its own open file.
FileDescriptor Hold(const fs::path& path, int how) {
    FileDescriptor fd(::open(path.c_str(), how == 0 ? O_WRONLY : O_RDONLY));
    struct flock lock {};
    lock.l_type = F_RDLCK;
    EXPECT_TRUE((how != 2 || ::flock(fd.Get(), LOCK_SH) == 0) &&
                (how != 3 || ::fcntl(fd.Get(), F_SETLK, &lock) == 0));
    return fd;
}
// The verdict on `path` asked by the user nobody, to whom the kernel grants no lease on a file of
// root's.
Verdict AsNobody(const fs::path& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        StatfsFileSystemKind kind;
        ::_exit(::setresuid(65534, 65534, 65534) == 0
                    ? static_cast<int>(LeaseLockTest(kind).Check(path))
                    : 9);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<Verdict>(WEXITSTATUS(status));
}

// A file held by another is locked until let go; FIFOs and links are locked. On a file system
// served from elsewhere (a FUSE mount is one), or without leases, a file held by nothing seen here
// is unseen, not free; a lock still counts as locked.
TEST(LeaseLockTest, AFileHeldByAnotherIsLockedAndOneThatCannotBeSeenIsUnseen) {
    testing::TempDir dir;
    const fs::path file = dir / "report.pdf";
    testing::WriteFile(file, "report");
    StatfsFileSystemKind kind;
    LeaseLockTest lockTest(kind);
    for (int how = 0; how < 4; ++how) {
        EXPECT_EQ(lockTest.Check(file), Verdict::Free) << how;
        FileDescriptor held = Hold(file, how);
        EXPECT_EQ(lockTest.Check(file), Verdict::Locked) << how;
    }
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
    fs::create_symlink(file, dir / "link");
    EXPECT_EQ(lockTest.Check(dir / "fifo"), Verdict::Locked) << "never waited on";
    EXPECT_EQ(lockTest.Check(dir / "link"), Verdict::Locked) << "never followed";
    if (::geteuid() == 0) {
        fs::permissions(dir.Path(), fs::perms(0711));
        EXPECT_EQ(AsNobody(file), Verdict::Unseen);
        FileDescriptor held = Hold(file, 2);
        EXPECT_EQ(AsNobody(file), Verdict::Locked);
    }
    fs::create_directory(dir / "mount");
    testing::SshfsMount mount(dir.Path(), dir / "mount");
    if (!mount.Mounted())
        GTEST_SKIP() << "no FUSE mount here (sshfs, /dev/fuse and root are needed)";
    EXPECT_EQ(lockTest.Check(dir / "mount/report.pdf"), Verdict::Unseen);
}

}  // namespace
}  // namespace quorvel
