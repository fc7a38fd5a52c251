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
        {wide + ".txt", wide.substr(0, 246) + " (12).txt"},
        {"a." + std::string(252, 'e'), "a (12)." + std::string(248, 'e')}};
    for (const auto& [name, numbered] : cases)
        EXPECT_EQ(NumberedName(name, 0) + "|" + NumberedName(name, 12), name + "|" + numbered);
}

// A move across file systems (the first rename answers EXDEV here) removes the source only once
// its copy is safe under its name and the source is still as it was: a failed final rename, or a
// write to the source during the copy, leaves the source in place and no copy behind.
TEST(FileMover, AMoveAcrossFileSystemsKeepsTheSourceUntilItsCopyIsSafe) {
    enum Fault { kNone, kRenameFails, kWrittenMeanwhile };
    const std::string after[] = {"|content", "content|", "content+|"};  // source|target
    for (const Fault fault : {kNone, kRenameFails, kWrittenMeanwhile}) {
        testing::TempDir from, to;
        testing::WriteFile(from / "a.txt", "content");
        struct stat info {};
        ASSERT_EQ(::stat((from / "a.txt").c_str(), &info), 0);
        int calls = 0;
        const RenameCall rename = [&](int fromFd, const char* name, int toFd, const char* target,
                                      unsigned flags) {
            if (++calls == 1 || fault == kRenameFails) return errno = calls == 1 ? EXDEV : EIO, -1;
            if (fault == kWrittenMeanwhile) std::ofstream(from / "a.txt", std::ios::app) << "+";
            return ::renameat2(fromFd, name, toFd, target, flags);
        };
        FileDescriptor fromFd(::open(from.Path().c_str(), O_RDONLY | O_DIRECTORY)),
            toFd(::open(to.Path().c_str(), O_RDONLY | O_DIRECTORY));
        const auto move = [&] {
            return MoveWithoutOverwrite(fromFd.Get(), "a.txt", FileIdentity::Of(info), toFd.Get(),
                                        rename);
        };
        if (fault == kNone)
            EXPECT_EQ(move(), "a.txt");
        else
            EXPECT_THROW(move(), Error);
        EXPECT_EQ(testing::ReadFile(from / "a.txt") + "|" + testing::ReadFile(to / "a.txt"),
                  after[fault]);
        EXPECT_EQ(std::distance(fs::directory_iterator(to.Path()), {}), fault == kNone ? 1 : 0)
            << "no copy left behind";
    }
}

}  // namespace
}  // namespace quorvel
