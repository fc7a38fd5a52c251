#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/FileDescriptor.h"
#include "mail/LeaseLockTest.h"
#include "support/FixedClock.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// Holds `path` the way another program would: open for writing or reading, or with a flock or a
// record lock (each seen by the lock test through its own open file, as another process's would be).
FileDescriptor Hold(const fs::path& path, int how) {
    FileDescriptor fd(::open(path.c_str(), how == 0 ? O_WRONLY : O_RDONLY));
    struct flock lock {};
    lock.l_type = F_RDLCK;
    EXPECT_TRUE((how != 2 || ::flock(fd.Get(), LOCK_SH) == 0) && (how != 3 || ::fcntl(fd.Get(), F_SETLK, &lock) == 0));
    return fd;
}
// One '0' or '1' for each (how, seconds after the change) asked by the user nobody, to whom the
// kernel grants no lease on a file of root's: how -1 holds nothing, else see Hold.
std::string AsNobody(const fs::path& path, std::initializer_list<std::pair<int, int>> queries) {
    int answer[2];
    struct stat info {};
    if (::pipe(answer) != 0 || ::stat(path.c_str(), &info) != 0) return "no pipe";
    const auto changed = std::chrono::system_clock::from_time_t(info.st_ctim.tv_sec) +
                         std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(info.st_ctim.tv_nsec));
    std::string text;
    for (const auto& [how, after] : queries) {
        FileDescriptor held = how < 0 ? FileDescriptor() : Hold(path, how);
        const pid_t child = ::fork();
        if (child == 0) {
            testing::FixedClock clock;
            clock.now = changed + seconds(after);
            const bool nobody = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                                ::setresuid(65534, 65534, 65534) == 0;
            const char c = !nobody ? 'x' : LeaseLockTest(clock).IsLocked(path) ? '1' : '0';
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
TEST(LeaseLockTest, AFileHeldByAnotherIsLockedUntilLetGoAndFifosAndLinksAreLocked) {
    testing::TempDir dir;
    const fs::path file = dir / "report.pdf";
    testing::WriteFile(file, "report");
    SystemClock clock;
    LeaseLockTest lockTest(clock);
    struct stat before {}, after {};
    ::stat(file.c_str(), &before);
    for (int how = 0; how < 4; ++how) {
        EXPECT_FALSE(lockTest.IsLocked(file)) << how;
        FileDescriptor held = Hold(file, how);
        EXPECT_TRUE(lockTest.IsLocked(file)) << how;
    }
    EXPECT_FALSE(lockTest.IsLocked(file));
    ::stat(file.c_str(), &after);
    EXPECT_EQ(before.st_ctim.tv_nsec + before.st_ctim.tv_sec, after.st_ctim.tv_nsec + after.st_ctim.tv_sec) << "the file is left as it was";
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
    fs::create_symlink(file, dir / "link");
    EXPECT_TRUE(lockTest.IsLocked(dir / "fifo")) << "never waited on";
    EXPECT_TRUE(lockTest.IsLocked(dir / "link")) << "never followed";
}
// Without leases a change less than 2 s ago counts as locked (a clock set back does not), and so
// does a lock, or a file the service cannot read.
TEST(LeaseLockTest, WithoutLeasesARecentChangeOrALockCountsAsLocked) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to test as a user without leases";
    testing::TempDir dir;
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    testing::WriteFile(dir / "report.pdf", "report");
    testing::WriteFile(dir / "private", "root's eyes only");
    fs::permissions(dir / "private", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(AsNobody(dir / "report.pdf", {{-1, 1}, {-1, 3}, {-1, -60}, {2, 3}, {3, 3}}) + AsNobody(dir / "private", {{-1, 3}}), "100111");
}

}  // namespace
}  // namespace quorvel
