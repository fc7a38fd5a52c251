#include <gtest/gtest.h>

#include "base/Error.h"
#include "mail/FileMover.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

TEST(FileMover, NumberedNames) {
    EXPECT_EQ(NumberedName("report.pdf", 0), "report.pdf");
    EXPECT_EQ(NumberedName("report.pdf", 1), "report (1).pdf");
    EXPECT_EQ(NumberedName("archive.tar.gz", 2), "archive.tar (2).gz");
    EXPECT_EQ(NumberedName("README", 3), "README (3)");
}

TEST(FileMover, NeverOverwritesAndKeepsEveryVersion) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir / "lost");
    for (const char* content : {"first", "second", "third"}) {
        testing::WriteFile(dir / "mail/report.pdf", content);
        MoveWithoutOverwrite(dir / "mail/report.pdf", dir / "lost");
        EXPECT_FALSE(std::filesystem::exists(dir / "mail/report.pdf"));
    }
    EXPECT_EQ(testing::ReadFile(dir / "lost/report.pdf"), "first");
    EXPECT_EQ(testing::ReadFile(dir / "lost/report (1).pdf"), "second");
    EXPECT_EQ(testing::ReadFile(dir / "lost/report (2).pdf"), "third");
}

TEST(FileMover, AFailedMoveLeavesTheSource) {
    testing::TempDir dir;
    testing::WriteFile(dir / "mail/a.txt", "data");
    EXPECT_THROW(MoveWithoutOverwrite(dir / "mail/a.txt", dir / "missing"), Error);
    EXPECT_EQ(testing::ReadFile(dir / "mail/a.txt"), "data");
}

TEST(FileMover, AcrossFileSystemsCopiesDurablyThenRemovesTheSource) {
    testing::TempDir dir;
    if (testing::SameFileSystem(dir.Path(), "/dev/shm")) GTEST_SKIP() << "no second file system at /dev/shm";
    testing::TempDir otherFs("/dev/shm");
    const std::filesystem::path& lost = otherFs.Path();
    std::string big(3 << 20, 'x');
    testing::WriteFile(dir / "mail/big.bin", big);
    testing::WriteFile(lost / "big.bin", "older");
    std::filesystem::permissions(dir / "mail/big.bin", std::filesystem::perms::owner_read);

    std::filesystem::path placed = MoveWithoutOverwrite(dir / "mail/big.bin", lost);

    EXPECT_EQ(placed, lost / "big (1).bin");
    EXPECT_EQ(testing::ReadFile(placed), big);
    EXPECT_EQ(testing::ReadFile(lost / "big.bin"), "older");
    EXPECT_EQ(std::filesystem::status(placed).permissions(), std::filesystem::perms::owner_read);
    EXPECT_FALSE(std::filesystem::exists(dir / "mail/big.bin"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(lost), {}), 2) << "no temporary copy left behind";
}

}  // namespace
}  // namespace quorvel
