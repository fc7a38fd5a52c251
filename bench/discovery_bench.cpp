// Times one FindMailFolder + CollectFiles over a mail folder of 10,000 recipient folders of which
// only the last in name order holds files, beside `find MAILFOLDER -mindepth 2 -maxdepth 2 -type f`
// on the same tree in the same run. Usage: discovery_bench [parent folder for the tree]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "delivery/Scanner.h"
#include "dropfolder/LeaseLockTest.h"
#include "log/MailLog.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using quorvel::Scanner;

constexpr int kFolders = 10000;
constexpr int kFiles = 20;
constexpr int kRounds = 25;

void Touch(const fs::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path.string());
    (void)!::write(fd, "x", 1);
    ::close(fd);
}

void BuildTree(const fs::path& mail) {
    fs::create_directories(mail);
    char name[16];
    for (int i = 0; i < kFolders; ++i) {
        std::snprintf(name, sizeof name, "r%05d", i);
        fs::create_directory(mail / name);
    }
    for (int i = 0; i < kFiles; ++i) Touch(mail / name / ("file" + std::to_string(i) + ".txt"));
}

void RunFind(const std::string& mail) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {"find",      mail, "-mindepth", "2",
                                     "-maxdepth", "2",  "-type",     "f"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, "find", &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start find");
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("find failed");
}

void RunScanner(Scanner& scanner, const std::string& mail) {
    std::optional<quorvel::ChosenFolder> chosen = scanner.FindMailFolder(mail);
    std::optional<quorvel::Batch> batch;
    if (chosen) batch = scanner.CollectFiles(std::move(*chosen));
    if (!batch || batch->Files().size() != kFiles) {
        throw std::runtime_error("the scanner did not find the batch");
    }
}

double Milliseconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void Report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-46s median %7.2f ms   min %7.2f ms   max %7.2f ms\n", what,
                times[times.size() / 2], times.front(), times.back());
}

}  // namespace

int main(int argc, char** argv) {
    fs::path parent = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    std::string pattern = (parent / "quorvel-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    const fs::path mail = root / "mail";
    try {
        BuildTree(mail);
        quorvel::SystemClock clock;
        quorvel::MailLog log(root, clock);
        quorvel::StatfsFileSystemKind fileSystems;
        quorvel::LeaseLockTest lockTest(fileSystems);
        Scanner scanner(root, log, lockTest, clock);

        RunScanner(scanner, mail.string());  // warm the caches for both
        RunFind(mail.string());
        std::vector<double> scan, find;
        for (int round = 0; round < kRounds; ++round) {
            scan.push_back(Milliseconds([&] { RunScanner(scanner, mail.string()); }));
            find.push_back(Milliseconds([&] { RunFind(mail.string()); }));
        }
        std::printf("%d recipient folders, %d files in the last; %d rounds, warm cache\n", kFolders,
                    kFiles, kRounds);
        Report("FindMailFolder + CollectFiles", scan);
        Report("find -mindepth 2 -maxdepth 2 -type f", find);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "discovery_bench: %s\n", error.what());
        fs::remove_all(root);
        return 1;
    }
    fs::remove_all(root);
    return 0;
}
