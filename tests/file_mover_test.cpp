#include <fcntl.h>

#include <gtest/gtest.h>

#include "base/Error.h"
#include "base/FileDescriptor.h"
#include "mail/FileMover.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

TEST(FileMover, NumberedNamesFitIn255BytesAndNeverCutACharacter) {
    std::string wide;
    for (int i = 0; i < 125; ++i) wide += "ж";  // 250 bytes
    struct Case {
        std::string name;
        unsigned n;
        std::string numbered;
    } cases[] = {
        {"report.pdf", 0, "report.pdf"}, {"report.pdf", 1, "report (1).pdf"},
        {"archive.tar.gz", 2, "archive.tar (2).gz"}, {"README", 3, "README (3)"}, {".profile", 1, ".profile (1)"},
        {std::string(251, 'y') + ".txt", 1, std::string(247, 'y') + " (1).txt"},
        {wide + ".txt", 1, wide.substr(0, 246) + " (1).txt"},
        {"a." + std::string(252, 'e'), 1, "a (1)." + std::string(249, 'e')},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NumberedName(c.name, c.n), c.numbered) << c.name.size();
        EXPECT_LE(NumberedName(c.name, c.n).size(), 255u);
    }
}

class FileMoverTest : public ::testing::Test {
protected:
    FileDescriptor Open(const fs::path& path) { return FileDescriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY)); }
    std::string Move(const std::string& name, const fs::path& to) {
        FileDescriptor from = Open(dir / "mail"), target = Open(to);
        struct stat info {};
        ::fstatat(from.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW);
        return MoveWithoutOverwrite(from.Get(), name, FileIdentity::Of(info), target.Get());
    }
    testing::TempDir dir;
};

TEST_F(FileMoverTest, NeverOverwritesKeepsEveryVersionAndLeavesTheSourceOnFailure) {
    fs::create_directories(dir / "lost");
    for (const char* content : {"first", "second", "third"}) {
        testing::WriteFile(dir / "mail/report.pdf", content);
        Move("report.pdf", dir / "lost");
        EXPECT_FALSE(fs::exists(dir / "mail/report.pdf"));
    }
    EXPECT_EQ(testing::ReadFile(dir / "lost/report.pdf"), "first");
    EXPECT_EQ(testing::ReadFile(dir / "lost/report (2).pdf"), "third");
    testing::WriteFile(dir / "mail/a.txt", "data");
    fs::create_directories(dir / "other");
    FileDescriptor from = Open(dir / "mail"), to = Open(dir / "other");
    EXPECT_THROW(MoveWithoutOverwrite(from.Get(), "a.txt", FileIdentity{}, to.Get()), Error) << "another file";
    EXPECT_EQ(testing::ReadFile(dir / "mail/a.txt"), "data");
}

TEST_F(FileMoverTest, AcrossFileSystemsCopiesDurablyThenRemovesTheSource) {
    if (testing::SameFileSystem(dir.Path(), "/dev/shm")) GTEST_SKIP() << "no second file system at /dev/shm";
    testing::TempDir otherFs("/dev/shm");
    const fs::path& lost = otherFs.Path();
    std::string big(3 << 20, 'x');
    testing::WriteFile(dir / "mail/big.bin", big);
    testing::WriteFile(lost / "big.bin", "older");
    fs::permissions(dir / "mail/big.bin", fs::perms::owner_read);

    EXPECT_EQ(Move("big.bin", lost), "big (1).bin");
    EXPECT_EQ(testing::ReadFile(lost / "big (1).bin"), big);
    EXPECT_EQ(testing::ReadFile(lost / "big.bin"), "older");
    EXPECT_EQ(fs::status(lost / "big (1).bin").permissions(), fs::perms::owner_read);
    EXPECT_FALSE(fs::exists(dir / "mail/big.bin"));
    EXPECT_EQ(std::distance(fs::directory_iterator(lost), {}), 2) << "no temporary copy left behind";
}

}  // namespace
}  // namespace quorvel
