#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "base/FileDescriptor.h"
#include "dropfolder/LeaseLockTest.h"
#include "support/SshfsMount.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Verdict = LockTest::Verdict;

// A file system that is served from elsewhere, or not, as the test says.
struct ScriptedKind final : FileSystemKind {
    bool remote = false;
    bool IsRemote(int) const override { return remote; }
};

// Holds `path` the way another program would: open for writing or reading, or with a flock or a
// record lock (each seen by the lock test through its own open file, as another process's would
// be).
FileDescriptor Hold(const fs::path& path, int how) {
    FileDescriptor fd(::open(path.c_str(), how == 0 ? O_WRONLY : O_RDONLY));
    struct flock lock {};
    lock.l_type = F_RDLCK;
    EXPECT_TRUE((how != 2 || ::flock(fd.Get(), LOCK_SH) == 0) &&
                (how != 3 || ::fcntl(fd.Get(), F_SETLK, &lock) == 0));
    return fd;
}
// One digit (the verdict: 0 free, 1 locked, 2 unseen) for each `how` asked by the user nobody, to
// whom the kernel grants no lease on a file of root's: how -1 holds nothing, else see Hold.
std::string AsNobody(const fs::path& path, std::initializer_list<int> queries) {
    int answer[2];
    if (::pipe(answer) != 0) return "no pipe";
    std::string text;
    for (const int how : queries) {
        FileDescriptor held = how < 0 ? FileDescriptor() : Hold(path, how);
        const pid_t child = ::fork();
        if (child == 0) {
            StatfsFileSystemKind kind;
            const bool nobody = ::setgroups(0, nullptr) == 0 &&
                                ::setresgid(65534, 65534, 65534) == 0 &&
                                ::setresuid(65534, 65534, 65534) == 0;
            const char c =
                !nobody
                    ? 'x'
                    : static_cast<char>('0' + static_cast<int>(LeaseLockTest(kind).Check(path)));
            (void)!::write(answer[1], &c, 1);
            ::_exit(0);
        }
        ::waitpid(child, nullptr, 0);
        text += '?';
        (void)!::read(answer[0], &text.back(), 1);
    }
    ::close(answer[0]), ::close(answer[1]);
    return text;
}
// On a file system served from elsewhere a file held by nothing seen here is unseen, not free.
TEST(LeaseLockTest, AFileHeldByAnotherIsLockedUntilLetGoAndFifosAndLinksAreLocked) {
    testing::TempDir dir;
    const fs::path file = dir / "report.pdf";
    testing::WriteFile(file, "report");
    ScriptedKind kind;
    LeaseLockTest lockTest(kind);
    struct stat before {
    }, after{};
    ::stat(file.c_str(), &before);
    for (int how = 0; how < 4; ++how) {
        EXPECT_EQ(lockTest.Check(file), Verdict::Free) << how;
        FileDescriptor held = Hold(file, how);
        EXPECT_TRUE(lockTest.IsLocked(file)) << how;
    }
    kind.remote = true;
    EXPECT_EQ(lockTest.Check(file), Verdict::Unseen);
    ::stat(file.c_str(), &after);
    EXPECT_EQ(before.st_ctim.tv_nsec + before.st_ctim.tv_sec,
              after.st_ctim.tv_nsec + after.st_ctim.tv_sec)
        << "the file is left as it was";
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
    fs::create_symlink(file, dir / "link");
    EXPECT_TRUE(lockTest.IsLocked(dir / "fifo")) << "never waited on";
    EXPECT_TRUE(lockTest.IsLocked(dir / "link")) << "never followed";
}
// Without leases a file held by nothing seen is unseen; a lock, or a file the service cannot read,
// counts as locked.
TEST(LeaseLockTest, WithoutLeasesAFileIsUnseenUnlessLocked) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to test as a user without leases";
    testing::TempDir dir;
    fs::permissions(dir.Path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    testing::WriteFile(dir / "report.pdf", "report");
    testing::WriteFile(dir / "private", "root's eyes only");
    fs::permissions(dir / "private", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(AsNobody(dir / "report.pdf", {-1, 2, 3}) + AsNobody(dir / "private", {-1}), "2111");
}

TEST(LeaseLockTest, AFileOnAFuseMountIsUnseen) {
    testing::TempDir dir;
    testing::WriteFile(dir / "source/report.pdf", "report");
    fs::create_directory(dir / "mount");
    testing::SshfsMount mount(dir / "source", dir / "mount");
    if (!mount.Mounted())
        GTEST_SKIP()
            << "cannot mount a FUSE file system here (no /dev/fuse, sshfs or the right to mount)";
    StatfsFileSystemKind kind;
    LeaseLockTest lockTest(kind);
    EXPECT_EQ(lockTest.Check(dir / "source/report.pdf"), Verdict::Free);
    EXPECT_EQ(lockTest.Check(dir / "mount/report.pdf"), Verdict::Unseen);
}

}  // namespace
}  // namespace quorvel
