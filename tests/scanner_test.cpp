#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Error.h"
#include "log/MailLog.h"
#include "mail/Scanner.h"
#include "support/ScriptedLockTest.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

class ScannerTest : public ::testing::Test {
protected:
    ScannerTest() : log_(dir_.Path(), clock_), scanner_(dir_.Path(), log_, lockTest_) {
        fs::create_directory(Mail());
        scanner_.SetMailPath(Mail().string());
    }

    fs::path Mail() const { return dir_ / "mail"; }

    std::vector<std::string> LogTexts() const { return testing::LogTexts(log_.Path()); }

    TempDir dir_;
    SystemClock clock_;
    MailLog log_;
    testing::ScriptedLockTest lockTest_;
    Scanner scanner_;
};

TEST_F(ScannerTest, ChoosesTheFirstFolderInByteOrderThatHoldsFilesAndListsItsBatch) {
    fs::create_directory(Mail() / "X");
    for (const char* file : {"b2", "я.txt", "b10", "B1"}) WriteFile(Mail() / "y" / file, "f");
    WriteFile(Mail() / "z" / "only.txt", "z");
    WriteFile(Mail() / "Я" / "only.txt", "z");
    WriteFile(Mail() / "a-plain.txt", "a plain file in the mail folder is a candidate, never chosen");
    WriteFile(Mail() / ".hidden" / "secret.txt", "a hidden folder is never seen");

    EXPECT_EQ(scanner_.FindMailFolder(), "y");
    EXPECT_EQ(scanner_.Folders(), (std::vector<std::string>{"X", "a-plain.txt", "y", "z", "Я"}));
    EXPECT_EQ(scanner_.Idx(), 2u);

    EXPECT_TRUE(scanner_.CollectFiles());
    EXPECT_EQ(scanner_.Files(), (std::vector<std::string>{"B1", "b10", "b2", "я.txt"}));
    EXPECT_EQ(scanner_.FileCount(), 4u);
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"Найдены файлы к отправке: [B1] [b10] [b2] [я.txt] "});
    EXPECT_EQ(fs::path(lockTest_.asked.front()).filename(), "B1");
}

TEST_F(ScannerTest, OnlyVisibleRegularFilesDirectlyInAFolderMakeABatch) {
    WriteFile(Mail() / "deeper" / "inner" / "file.txt", "deeper folders are ignored");
    WriteFile(Mail() / "hidden" / ".file.txt", "hidden");
    WriteFile(dir_ / "outside" / "shadow", "never to be mailed");
    fs::create_directory(Mail() / "system");
    fs::create_symlink(dir_ / "outside" / "shadow", Mail() / "system" / "link");
    ASSERT_EQ(::mkfifo((Mail() / "system" / "fifo").c_str(), 0644), 0);
    fs::create_directory_symlink(dir_ / "outside", Mail() / "linked-folder");
    ASSERT_EQ(::mkfifo((Mail() / "fifo").c_str(), 0644), 0);

    EXPECT_EQ(scanner_.FindMailFolder(), "");
    EXPECT_EQ(scanner_.Folders(), (std::vector<std::string>{"deeper", "hidden", "system"}));
    EXPECT_EQ(scanner_.Idx(), scanner_.Folders().size());
    EXPECT_THROW(scanner_.CollectFiles(), Error);

    WriteFile(Mail() / "system" / "real.txt", "r");
    EXPECT_EQ(scanner_.FindMailFolder(), "system");
    EXPECT_TRUE(scanner_.CollectFiles());
    EXPECT_EQ(scanner_.Files(), std::vector<std::string>{"real.txt"});
    EXPECT_EQ(lockTest_.asked.size(), 1u);
}

TEST_F(ScannerTest, FolderEmptiedOrRemovedAfterItWasChosenGivesFalseAndLogsNothing) {
    WriteFile(Mail() / "a" / "f.txt", "f");
    ASSERT_EQ(scanner_.FindMailFolder(), "a");
    fs::remove(Mail() / "a" / "f.txt");
    EXPECT_FALSE(scanner_.CollectFiles());

    WriteFile(Mail() / "a" / "f.txt", "f");
    ASSERT_EQ(scanner_.FindMailFolder(), "a");
    fs::remove_all(Mail() / "a");
    EXPECT_FALSE(scanner_.CollectFiles());

    EXPECT_TRUE(lockTest_.asked.empty());
    EXPECT_FALSE(fs::exists(log_.Path()));
}

TEST_F(ScannerTest, LockedFileStopsTheBatch) {
    for (const char* file : {"a", "b", "c"}) WriteFile(Mail() / "r" / file, "f");
    lockTest_.Locked = {"b"};

    ASSERT_EQ(scanner_.FindMailFolder(), "r");
    EXPECT_FALSE(scanner_.CollectFiles());
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"Файл b заблокирован и не может быть отправлен"});
    EXPECT_EQ(scanner_.Files(), std::vector<std::string>{"a"});
    EXPECT_EQ(lockTest_.asked.size(), 2u) << "the files after the locked one are not tested";

    // The next cycle finds the same folder, and the batch goes once the file is free.
    lockTest_.Locked.clear();
    ASSERT_EQ(scanner_.FindMailFolder(), "r");
    EXPECT_TRUE(scanner_.CollectFiles());
    EXPECT_EQ(scanner_.FileCount(), 3u);
}

TEST_F(ScannerTest, BatchesHaveNoSixteenBitLimitAndListingErrorsNameThePathAndTheReason) {
    constexpr std::size_t kCount = 32768 + 2;
    fs::create_directory(Mail() / "many");
    for (std::size_t i = 0; i < kCount; ++i) {
        ::close(::open((Mail() / "many" / std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0644));
    }
    ASSERT_EQ(scanner_.FindMailFolder(), "many");
    EXPECT_TRUE(scanner_.CollectFiles());
    EXPECT_EQ(scanner_.FileCount(), kCount);

    scanner_.SetMailPath((dir_ / "missing").string());
    try {
        scanner_.FindMailFolder();
        ADD_FAILURE() << "a missing mail folder must raise an error";
    } catch (const Error& error) {
        EXPECT_EQ(error.Number(), ENOENT);
        EXPECT_EQ(std::string(error.what()), "cannot list " + (dir_ / "missing").string() + ": No such file or directory");
    }
}

}  // namespace
}  // namespace quorvel
