#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "mail/LeaseLockTest.h"
#include "support/FixedClock.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

std::chrono::system_clock::time_point ChangeTime(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path.string());
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        seconds(info.st_ctim.tv_sec) + std::chrono::nanoseconds(info.st_ctim.tv_nsec)));
}

// A way for another process to hold a file: how it opens it, and which lock it takes then.
struct Hold {
    const char* name;
    int openFlags;
    bool flock;
    bool recordLock;
};
constexpr Hold kHolds[] = {{"open for writing", O_WRONLY, false, false},
                           {"open for reading", O_RDONLY, false, false},
                           {"flock", O_RDONLY, true, false},
                           {"fcntl lock", O_RDONLY, false, true}};

// Runs `work` in a child process and returns what it wrote to the pipe; the child then waits until
// the returned release descriptor is closed, and the parent reaps it on Release().
class Child {
public:
    explicit Child(const std::function<std::string()>& work) {
        int answer[2], release[2];
        if (::pipe(answer) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(answer[0]);
            ::close(release[1]);
            std::string text = work();
            (void)!::write(answer[1], text.data(), text.size());
            ::close(answer[1]);
            (void)!::read(release[0], answer, 1);
            ::_exit(0);
        }
        ::close(answer[1]);
        ::close(release[0]);
        release_ = release[1];
        char buffer[256];
        for (ssize_t n; (n = ::read(answer[0], buffer, sizeof buffer)) > 0;) text_.append(buffer, n);
        ::close(answer[0]);
    }
    ~Child() { Release(); }
    const std::string& Text() const { return text_; }
    void Release() {
        if (pid_ <= 0) return;
        ::close(release_);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    std::string text_;
};

std::string Take(const fs::path& path, const Hold& hold) {
    int fd = ::open(path.c_str(), hold.openFlags);
    struct flock lock {};
    lock.l_type = F_RDLCK;
    bool held = fd >= 0 && (!hold.flock || ::flock(fd, LOCK_SH) == 0) &&
                (!hold.recordLock || ::fcntl(fd, F_SETLK, &lock) == 0);
    return held ? "held" : "";
}

// What `test` answers in a child that gave up root for the user nobody, to whom the kernel grants
// no lease on a file of root's.
std::string AsNobody(const std::function<std::string()>& test) {
    return Child([&] {
               bool nobody = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                             ::setresuid(65534, 65534, 65534) == 0;
               return nobody ? test() : std::string("cannot become nobody");
           }).Text();
}

class LeaseLockTestTest : public ::testing::Test {
protected:
    LeaseLockTestTest() : file_(dir_ / "report.pdf") { testing::WriteFile(file_, "report"); }

    testing::TempDir dir_;
    fs::path file_;
    SystemClock clock_;
};

TEST_F(LeaseLockTestTest, FileHeldByAnotherProcessIsLockedUntilItLetsGoAndFifosAndLinksAreLocked) {
    LeaseLockTest lockTest(clock_);
    auto changed = ChangeTime(file_);
    for (const Hold& hold : kHolds) {
        SCOPED_TRACE(hold.name);
        EXPECT_FALSE(lockTest.IsLocked(file_));
        Child child([&] { return Take(file_, hold); });
        ASSERT_EQ(child.Text(), "held");
        EXPECT_TRUE(lockTest.IsLocked(file_));
        child.Release();
        EXPECT_FALSE(lockTest.IsLocked(file_));
    }
    EXPECT_EQ(testing::ReadFile(file_), "report");
    EXPECT_EQ(ChangeTime(file_), changed) << "the lock test must leave the file as it was";
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0666), 0);
    fs::create_symlink(file_, dir_ / "link");
    EXPECT_TRUE(lockTest.IsLocked(dir_ / "fifo")) << "never waited on";
    EXPECT_TRUE(lockTest.IsLocked(dir_ / "link")) << "never followed";
}

TEST_F(LeaseLockTestTest, WithoutLeasesARecentChangeOrALockCountsAsLocked) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to test as a user without leases";
    fs::permissions(dir_.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    testing::WriteFile(dir_ / "private", "root's eyes only");
    fs::permissions(dir_ / "private", fs::perms::owner_read | fs::perms::owner_write);
    const auto changed = ChangeTime(file_);

    auto answers = [&](std::initializer_list<std::pair<fs::path, seconds>> queries) {
        return AsNobody([&] {
            testing::FixedClock clock;
            LeaseLockTest lockTest(clock);
            std::string text;
            for (const auto& [path, after] : queries) {
                clock.now = changed + after;
                text += lockTest.IsLocked(path) ? '1' : '0';
            }
            return text;
        });
    };
    // Changed 1 s ago: still settling. 3 s ago: settled. The clock set back by a minute: settled.
    // A file the service cannot read cannot be sent.
    EXPECT_EQ(answers({{file_, seconds(1)}, {file_, seconds(3)}, {file_, seconds(-60)},
                       {dir_ / "private", seconds(3)}}),
              "1001");
    for (const Hold& hold : {kHolds[2], kHolds[3]}) {
        SCOPED_TRACE(hold.name);
        Child child([&] { return Take(file_, hold); });
        EXPECT_EQ(answers({{file_, seconds(3)}}), "1");
    }
}

}  // namespace
}  // namespace quorvel
