#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/FileDescriptor.h"
#include "support/ScanCycleFixture.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Makes a file immutable, so that not even root can delete or move it; false where the file
// system or the process cannot.
bool SetImmutable(const fs::path& path, bool on) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    int flags = 0;
    if (!file.Valid() || ::ioctl(file.Get(), FS_IOC_GETFLAGS, &flags) != 0) return false;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    return ::ioctl(file.Get(), FS_IOC_SETFLAGS, &flags) == 0;
}

class ScanCycleTest : public testing::ScanCycleFixture {};

TEST_F(ScanCycleTest, ASentBatchIsDeletedAndItsFolderKept) {
    WriteSettings(Mail().string() + "/", Lost().string(), "secret");
    WriteFile(Mail() / "buh/report.pdf", "pdf");
    WriteFile(Mail() / "buh/report.xml", "xml");
    fs::permissions(Mail() / "buh/report.xml", fs::perms::owner_read);

    EXPECT_EQ(scanner_.ProcessMail(), "ok");

    auto messages = server_.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Header("To"), "buh@example.com");
    ASSERT_EQ(messages[0].Attachments.size(), 2u);
    EXPECT_EQ(messages[0].Attachments[1].FileName, "report.xml");
    EXPECT_TRUE(fs::is_directory(Mail() / "buh"));
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"Найден непустой каталог: buh",
                                                    "Найдены файлы к отправке: [report.pdf] [report.xml] ",
                                                    "Отправка почты на: buh"}));
    EXPECT_EQ(scanner_.ProcessMail(), "");
    EXPECT_EQ(LogTexts().size(), 3u) << "a cycle with nothing to do logs nothing";
}

TEST_F(ScanCycleTest, OneRecipientFolderPerCycleInNameOrder) {
    WriteSettings();
    WriteFile(Mail() / "b@example.com/x.txt", "b");
    WriteFile(Mail() / "a@example.com/y.txt", "a");
    EXPECT_EQ(scanner_.ProcessMail(), "ok");
    EXPECT_EQ(server_.WaitForMessages(1).size(), 1u);
    EXPECT_TRUE(fs::exists(Mail() / "b@example.com/x.txt"));
    EXPECT_EQ(scanner_.ProcessMail(), "ok");
    auto messages = server_.WaitForMessages(2);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].Header("To"), "a@example.com");
    EXPECT_EQ(messages[1].Header("To"), "b@example.com");
}

TEST_F(ScanCycleTest, FailedBatchesGoToTheLostFolderAndNeverReplaceEachOther) {
    WriteSettings("wrong");
    for (const char* content : {"first", "second"}) {
        WriteFile(Mail() / "buh/report.pdf", content);
        WriteFile(Mail() / "buh/notes.txt", content);
        EXPECT_EQ(scanner_.ProcessMail(), "Не удалось отправить файлы на адрес: buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid))");
    }
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
    EXPECT_EQ(Names(Lost() / "buh"), (std::vector<std::string>{"notes (1).txt", "notes.txt", "report (1).pdf", "report.pdf"}));
    EXPECT_EQ(ReadFile(Lost() / "buh/report.pdf"), "first");
    EXPECT_EQ(ReadFile(Lost() / "buh/report (1).pdf"), "second");
    EXPECT_TRUE(server_.Messages().empty());
}

TEST_F(ScanCycleTest, ALockedFileHoldsTheBatchBackUntilReleased) {
    WriteSettings();
    WriteFile(Mail() / "buh@example.com/a.txt", "a");
    WriteFile(Mail() / "buh@example.com/b.txt", "b");
    lockTest_.Locked = {"b.txt"};
    EXPECT_EQ(scanner_.ProcessMail(), "");
    EXPECT_EQ(scanner_.ProcessMail(), "");
    const std::vector<std::string> held{"Найден непустой каталог: buh@example.com",
                                        "Файл b.txt заблокирован и не может быть отправлен"};
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{held[0], held[1], held[0], held[1]}));
    lockTest_.Locked.clear();
    EXPECT_EQ(scanner_.ProcessMail(), "ok");
    EXPECT_EQ(server_.WaitForMessages(1)[0].Attachments.size(), 2u);
}

TEST_F(ScanCycleTest, EmptyOrMissingFoldersTouchNothing) {
    WriteSettings("", Lost().string(), "secret");
    EXPECT_EQ(scanner_.ProcessMail(), "") << "an empty mail folder setting lists nothing";
    WriteSettings();
    EXPECT_EQ(scanner_.ProcessMail(), "") << "a missing mail folder is nothing to do";
    EXPECT_FALSE(fs::exists(log_.Path()));

    WriteSettings(Mail().string(), "", "wrong");
    WriteFile(Mail() / "buh/a.txt", "a");
    EXPECT_EQ(scanner_.ProcessMail(),
              "Не удалось отправить файлы на адрес: buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid); LostFolder is empty)");
    EXPECT_TRUE(fs::exists(Mail() / "buh/a.txt"));

    WriteSettings(Mail().string(), (app_ / "no/lost").string(), "wrong");
    std::string result = scanner_.ProcessMail();
    EXPECT_EQ(result.rfind("Не удалось отправить файлы на адрес: buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid); cannot create ", 0), 0u)
        << result;
    EXPECT_NE(result.find("No such file or directory"), std::string::npos) << result;
    EXPECT_TRUE(fs::exists(Mail() / "buh/a.txt"));
}

TEST_F(ScanCycleTest, AFileThatCannotBeDisposedOfIsNamedAndTheRestHandled) {
    WriteSettings();
    WriteFile(Mail() / "buh@example.com/a.txt", "a");
    WriteFile(Mail() / "buh@example.com/b.txt", "b");
    if (!SetImmutable(Mail() / "buh@example.com/a.txt", true)) GTEST_SKIP() << "cannot make a file immutable here";
    std::string sent = scanner_.ProcessMail();
    SetImmutable(Mail() / "buh@example.com/a.txt", false);
    EXPECT_EQ(sent, "ok; not deleted, and so to be sent again: [a.txt] Operation not permitted");
    EXPECT_EQ(Names(Mail() / "buh@example.com"), std::vector<std::string>{"a.txt"});

    WriteSettings("wrong");
    WriteFile(Mail() / "buh@example.com/b.txt", "b");
    ASSERT_TRUE(SetImmutable(Mail() / "buh@example.com/a.txt", true));
    std::string failed = scanner_.ProcessMail();
    SetImmutable(Mail() / "buh@example.com/a.txt", false);
    EXPECT_EQ(failed.rfind("Не удалось отправить файлы на адрес: buh@example.com(Error  67: Login denied (535 5.7.8 Authentication credentials invalid); "
                           "not moved, still in the mail folder: [a.txt] cannot move ", 0), 0u) << failed;
    EXPECT_EQ(Names(Mail() / "buh@example.com"), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(Names(Lost() / "buh@example.com"), std::vector<std::string>{"b.txt"});
}

TEST_F(ScanCycleTest, ALostFolderOnAnotherFileSystemReceivesCopies) {
    if (testing::SameFileSystem(app_.Path(), "/dev/shm")) GTEST_SKIP() << "no second file system at /dev/shm";
    testing::TempDir otherFs("/dev/shm");
    const fs::path lost = otherFs / "lost";
    WriteSettings(Mail().string(), lost.string(), "wrong");
    WriteFile(Mail() / "buh/a.bin", std::string(100000, 'a'));
    EXPECT_EQ(scanner_.ProcessMail(), "Не удалось отправить файлы на адрес: buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid))");
    EXPECT_EQ(ReadFile(lost / "buh/a.bin"), std::string(100000, 'a'));
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
}

TEST_F(ScanCycleTest, ANameCannotForgeALogLine) {
    WriteSettings();
    WriteFile(Mail() / "buh/a\r\n01.01.2026 00:00:00 - forged", "a");
    lockTest_.Locked = {"a\r\n01.01.2026 00:00:00 - forged"};
    EXPECT_EQ(scanner_.ProcessMail(), "");
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"Найден непустой каталог: buh",
                                                    "Файл a__01.01.2026 00:00:00 - forged заблокирован и не может "
                                                    "быть отправлен"}));
}

}  // namespace
}  // namespace quorvel
