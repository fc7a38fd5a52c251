#include "systemd/Systemctl.h"

#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>

#include "base/Error.h"

extern char** environ;

namespace quorvel {

namespace {

std::string CommandText(const std::vector<std::string>& arguments) {
    std::string text = "systemctl";
    for (const std::string& argument : arguments) text += " " + argument;
    return text;
}

// The spawned systemctl's output goes to standard error, so that standard output carries only
// the service's own message.
int SpawnAndWait(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("systemctl"));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    pid_t pid = 0;
    int err = posix_spawnp(&pid, "systemctl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) throw SystemError("cannot start " + CommandText(arguments), err);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw SystemError("cannot wait for " + CommandText(arguments));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

}  // namespace

bool SystemdRunning() { return sd_booted() > 0; }

void RunSystemctl(const std::vector<std::string>& arguments) {
    int status = SpawnAndWait(arguments);
    if (status != 0) {
        throw Error(EIO, CommandText(arguments) + " failed with status " + std::to_string(status));
    }
}

}  // namespace quorvel
