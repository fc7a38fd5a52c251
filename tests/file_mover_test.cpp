#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/Error.h"
#include "base/FileDescriptor.h"
#include "dropfolder/FileMover.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

TEST(FileMover, NumberedNamesFitIn255BytesAndNeverCutACharacter) {
    std::string wide;
    for (int i = 0; i < 125; ++i) wide += "ж";  // 250 bytes
    const std::pair<std::string, std::string> cases[] = {
        {"archive.tar.gz", "archive.tar (12).gz"},
        {"README", "README (12)"},
        {".profile", ".profile (12)"},
        {std::string(251, 'y') + ".txt", std::string(246, 'y') + " (12).txt"},
        {wide + ".txt", wide.substr(0, 246) + " (12).txt"},
        {"a." + std::string(252, 'e'), "a (12)." + std::string(248, 'e')},
    };
    for (const auto& [name, numbered] : cases)
        EXPECT_EQ(NumberedName(name, 0) + "|" + NumberedName(name, 12), name + "|" + numbered);
}

// A move across file systems (the first rename answers EXDEV here) copies a sparse file sparse and
// removes the source only once its copy is safe under its name and the source is still as it was:
// a failed final rename, or a write to the source during the copy, leaves the source in place and
// no copy behind.
TEST(FileMover, AMoveAcrossFileSystemsKeepsTheSourceUntilItsCopyIsSafe) {
    constexpr off_t kSize = 16 << 20, kAt = 8 << 20;
    const auto look = [&](const fs::path& path) {  // size, allocation and the data at kAt
        struct stat info {};
        char data[8] = {};
        FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!file.Valid() || ::fstat(file.Get(), &info) != 0 ||
            ::pread(file.Get(), data, 7, kAt) != 7)
            return std::string("none");
        return std::to_string(info.st_size) +
               (info.st_blocks * 512 <= 65536 ? " sparse " : " dense ") + data;
    };
    const std::string sparse = std::to_string(kSize) + " sparse content";
    enum Fault { kNone, kRenameFails, kWrittenMeanwhile };
    const struct {
        Fault fault;
        std::string source, target;
    } cases[] = {{kNone, "none", sparse},
                 {kRenameFails, sparse, "none"},
                 {kWrittenMeanwhile, std::to_string(kSize + 1) + " sparse content", "none"}};
    for (const auto& c : cases) {
        testing::TempDir from, to;
        {
            FileDescriptor file(
                ::open((from / "a.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0640));
            ASSERT_TRUE(::pwrite(file.Get(), "content", 7, kAt) == 7 &&
                        ::ftruncate(file.Get(), kSize) == 0);
        }
        struct stat info {};
        ASSERT_EQ(::stat((from / "a.txt").c_str(), &info), 0);
        int calls = 0;
        const RenameCall rename = [&](int fromFd, const char* name, int toFd, const char* target,
                                      unsigned flags) {
            if (++calls == 1 || c.fault == kRenameFails)
                return errno = calls == 1 ? EXDEV : EIO, -1;
            if (c.fault == kWrittenMeanwhile) std::ofstream(from / "a.txt", std::ios::app) << "+";
            return ::renameat2(fromFd, name, toFd, target, flags);
        };
        FileDescriptor fromFd(::open(from.Path().c_str(), O_RDONLY | O_DIRECTORY)),
            toFd(::open(to.Path().c_str(), O_RDONLY | O_DIRECTORY));
        bool moved = true;
        try {
            EXPECT_EQ(MoveWithoutOverwrite(fromFd.Get(), "a.txt", FileIdentity::Of(info),
                                           toFd.Get(), rename),
                      "a.txt");
        } catch (const Error&) {
            moved = false;
        }
        EXPECT_EQ(moved, c.fault == kNone);
        EXPECT_EQ(look(from / "a.txt") + " | " + look(to / "a.txt"), c.source + " | " + c.target)
            << c.fault;
        EXPECT_EQ(std::distance(fs::directory_iterator(to.Path()), {}), moved ? 1 : 0)
            << "no copy left behind";
    }
}

}  // namespace
}  // namespace quorvel
