#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "service/JournalLog.h"
#include "support/TempDir.h"

extern char** environ;

namespace quorvel {
namespace {

// Without a journal, entries go to standard error; a reader that went away must not end the service
// with SIGPIPE. Here it has no options.ini, writes its entries into the broken pipe, and stops for
// its bad settings with status 78.
TEST(BrokenPipe, AClosedStandardErrorDoesNotEndTheService) {
    if (std::filesystem::exists(JournalLog::kJournalSocket)) GTEST_SKIP() << "entries go to the journal here";
    testing::TempDir dir;
    std::filesystem::copy_file(QUORVEL_SERVER_EXE, dir / "quorvel-server");
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::string exe = (dir / "quorvel-server").string(), interval = "TimerInterval=10";
    char* argv[] = {exe.data(), nullptr};
    char* envp[] = {interval.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 78);
}

}  // namespace
}  // namespace quorvel
