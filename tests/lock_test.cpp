#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "base/FileDescriptor.h"
#include "mail/LeaseLockTest.h"
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
// record lock (each seen by the lock test through its own open file, as another process's would be).
FileDescriptor Hold(const fs::path& path, int how) {
    FileDescriptor fd(::open(path.c_str(), how == 0 ? O_WRONLY : O_RDONLY));
    struct flock lock {};
    lock.l_type = F_RDLCK;
    EXPECT_TRUE((how != 2 || ::flock(fd.Get(), LOCK_SH) == 0) && (how != 3 || ::fcntl(fd.Get(), F_SETLK, &lock) == 0));
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
            const bool nobody = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                                ::setresuid(65534, 65534, 65534) == 0;
            const char c = !nobody ? 'x' : static_cast<char>('0' + static_cast<int>(LeaseLockTest(kind).Check(path)));
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
    struct stat before {}, after {};
    ::stat(file.c_str(), &before);
    for (int how = 0; how < 4; ++how) {
        EXPECT_EQ(lockTest.Check(file), Verdict::Free) << how;
        FileDescriptor held = Hold(file, how);
        EXPECT_TRUE(lockTest.IsLocked(file)) << how;
    }
    kind.remote = true;
    EXPECT_EQ(lockTest.Check(file), Verdict::Unseen);
    ::stat(file.c_str(), &after);
    EXPECT_EQ(before.st_ctim.tv_nsec + before.st_ctim.tv_sec, after.st_ctim.tv_nsec + after.st_ctim.tv_sec) << "the file is left as it was";
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
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    testing::WriteFile(dir / "report.pdf", "report");
    testing::WriteFile(dir / "private", "root's eyes only");
    fs::permissions(dir / "private", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(AsNobody(dir / "report.pdf", {-1, 2, 3}) + AsNobody(dir / "private", {-1}), "2111");
}

// A real FUSE file system: sshfs in its passive mode, speaking SFTP over a socket pair with the
// local sftp-server, so that no SSH server is needed. Both end with the test.
class SshfsMount {
public:
    SshfsMount(const fs::path& source, const fs::path& mountPoint) : mountPoint_(mountPoint) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
        server_ = Start(pair[0], {"/usr/lib/openssh/sftp-server"});
        client_ = Start(pair[1], {"sshfs", "-f", "-o", "passive", ":" + source.string(), mountPoint.string()});
        ::close(pair[0]), ::close(pair[1]);
        for (int tries = 0; tries < 500 && !Mounted(); ++tries) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~SshfsMount() {
        if (Mounted() && std::system(("fusermount3 -u " + mountPoint_.string()).c_str()) != 0) return;
        for (pid_t pid : {client_, server_}) if (pid > 0) ::kill(pid, SIGTERM), ::waitpid(pid, nullptr, 0);
    }
    bool Mounted() const {
        struct statfs info {};
        return ::statfs(mountPoint_.c_str(), &info) == 0 && info.f_type == 0x65735546;
    }

private:
    static pid_t Start(int fd, const std::vector<std::string>& command) {
        const pid_t pid = ::fork();
        if (pid != 0) return pid;
        ::dup2(fd, 0), ::dup2(fd, 1);
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    fs::path mountPoint_;
    pid_t server_ = -1, client_ = -1;
};
TEST(LeaseLockTest, AFileOnAFuseMountIsUnseen) {
    testing::TempDir dir;
    testing::WriteFile(dir / "source/report.pdf", "report");
    fs::create_directory(dir / "mount");
    SshfsMount mount(dir / "source", dir / "mount");
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a FUSE file system here (no /dev/fuse, sshfs or the right to mount)";
    StatfsFileSystemKind kind;
    LeaseLockTest lockTest(kind);
    EXPECT_EQ(lockTest.Check(dir / "source/report.pdf"), Verdict::Free);
    EXPECT_EQ(lockTest.Check(dir / "mount/report.pdf"), Verdict::Unseen);
}

}  // namespace
}  // namespace quorvel
