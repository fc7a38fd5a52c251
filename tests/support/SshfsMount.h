#pragma once

#include <sys/socket.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::testing {

// A real FUSE file system: sshfs in its passive mode, speaking SFTP over a socket pair with the
// local sftp-server, so that no SSH server is needed. Pause() stops the server, so the share stops
// answering; both end with the mount, which is left lazily.
class SshfsMount {
public:
    SshfsMount(const std::filesystem::path& source, const std::filesystem::path& mountPoint)
        : mountPoint_(mountPoint) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
        server_ = Start(pair[0], {"/usr/lib/openssh/sftp-server"});
        client_ = Start(
            pair[1], {"sshfs", "-f", "-o", "passive", ":" + source.string(), mountPoint.string()});
        ::close(pair[0]), ::close(pair[1]);
        for (int tries = 0; tries < 500 && !Mounted(); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~SshfsMount() {
        Resume();
        if (Mounted() && std::system(("fusermount3 -u -z " + mountPoint_.string()).c_str()) != 0)
            return;
        for (pid_t pid : {client_, server_})
            if (pid > 0) ::kill(pid, SIGTERM), ::waitpid(pid, nullptr, 0);
    }
    bool Mounted() const {
        struct statfs info {};
        return ::statfs(mountPoint_.c_str(), &info) == 0 && info.f_type == 0x65735546;
    }
    void Pause() const { ::kill(server_, SIGSTOP); }
    void Resume() const {
        if (server_ > 0) ::kill(server_, SIGCONT);
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
    std::filesystem::path mountPoint_;
    pid_t server_ = -1, client_ = -1;
};

}  // namespace quorvel::testing
