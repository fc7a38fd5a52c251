#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "base/Error.h"
#include "base/FileDescriptor.h"
#include "mail/FileMover.h"
#include "support/ScanCycleFixture.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::SmtpServer;
using testing::WriteFile;
using Names = std::vector<std::string>;

Names NamesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Makes a file immutable (not even root can delete or move it); false where that cannot be done.
bool SetImmutable(const fs::path& path, bool on) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    int flags = 0;
    if (!file.Valid() || ::ioctl(file.Get(), FS_IOC_GETFLAGS, &flags) != 0) return false;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    return ::ioctl(file.Get(), FS_IOC_SETFLAGS, &flags) == 0;
}

const std::string kFailed = "Не удалось отправить файлы на адрес: ";

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
    EXPECT_EQ(messages[0].Attachments[1].Data, "xml");
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
    EXPECT_EQ(LogTexts(), (Names{"Найден непустой каталог: buh", "Найдены файлы к отправке: [report.pdf] [report.xml] ",
                                 "Отправка почты на: buh"}));
    EXPECT_EQ(scanner_.ProcessMail(), "");
    EXPECT_EQ(LogTexts().size(), 3u) << "a cycle with nothing to do logs nothing";
}

TEST_F(ScanCycleTest, EachCycleStartsAfterTheFolderTriedLastSoNoFolderHoldsBackTheOthers) {
    WriteSettings();
    WriteFile(Mail() / "b@example.com/x.txt", "b");
    WriteFile(Mail() / "a@example.com/y.txt", "a");
    WriteFile(Mail() / "a@example.com/l\r\n01.01.2026 00:00:00 - forged", "a");
    lockTest_.Locked = {"l\r\n01.01.2026 00:00:00 - forged"};
    EXPECT_EQ(scanner_.ProcessMail(), "");
    EXPECT_EQ(scanner_.HeldByLock(), "a@example.com");
    EXPECT_EQ(LogTexts().back(), "Файл l__01.01.2026 00:00:00 - forged заблокирован и не может быть отправлен");
    EXPECT_EQ(scanner_.ProcessMail(), "ok") << "the locked first folder does not stop the second";
    lockTest_.Locked.clear();
    EXPECT_EQ(scanner_.ProcessMail(), "ok");
    // A first folder refilled after every cycle does not stop the second either.
    WriteFile(Mail() / "b@example.com/x.txt", "b");
    for (int cycle = 0; cycle < 2; ++cycle) {
        WriteFile(Mail() / "a@example.com/y.txt", "a");
        EXPECT_EQ(scanner_.ProcessMail(), "ok");
    }
    Names to;
    for (const auto& message : server_.WaitForMessages(4)) to.push_back(message.Header("To"));
    EXPECT_EQ(to, (Names{"b@example.com", "a@example.com", "b@example.com", "a@example.com"}));
}

TEST_F(ScanCycleTest, FailedBatchesGoToTheLostFolderAndNeverReplaceEachOther) {
    WriteSettings("wrong");
    for (const char* content : {"first", "second"}) {
        WriteFile(Mail() / "buh/report.pdf", content);
        WriteFile(Mail() / "buh/notes.txt", content);
        EXPECT_EQ(scanner_.ProcessMail(), kFailed + "buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid))");
    }
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
    EXPECT_EQ(NamesIn(Lost() / "buh"), (Names{"notes (1).txt", "notes.txt", "report (1).pdf", "report.pdf"}));
    EXPECT_EQ(ReadFile(Lost() / "buh/report (1).pdf"), "second");
    EXPECT_TRUE(server_.Messages().empty());
}

// The lost folder's rules: relative folders, overlap, and nothing written through a link.
TEST_F(ScanCycleTest, TheLostFolderIsUsedOnlyWhereItIsSafe) {
    testing::TempDir outside;
    const std::string stay = ", the files stay in the mail folder)";
    const std::string overlap = "; Каталог неотправленной почты не может совпадать с каталогом почты или лежать с ним "
                                "один в другом: [Main] MailFolder = \"" + Mail().string() + "\", [Main] LostFolder = \"";
    struct Case {
        std::string folder, mail, lost, result;
        bool moved;
    } cases[] = {
        {"x@example.com", "mail/", "lost", kFailed + "x@example.com(Error  67: Login denied (535 5.7.8 Authentication credentials invalid))", true},
        {"buh", Mail().string(), Mail().string() + "/", kFailed + "buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid)" + overlap + Mail().string() + "\"" + stay, false},
        {"buh", Mail().string(), "mail/buh", kFailed + "buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid)" + overlap + (Mail() / "buh").string() + "\"" + stay, false},
        {"buh", Mail().string(), Lost().string(), kFailed + "buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid); " + (Lost() / "buh").string() + " is not a real folder" + stay, false},
        {"buh\r\nforged", Mail().string(), Lost().string(), kFailed + "buh__forged(Error  22: invalid e-mail address \"buh__forged\"; " + Lost().string() + "/buh__forged is not a real folder" + stay, false},
        {"buh", Mail().string(), "", kFailed + "buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid); LostFolder is empty)", false},
        {"buh", Mail().string(), (app_ / "no/lost").string(), kFailed + "buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid); cannot create " + (app_ / "no/lost").string() + ": No such file or directory" + stay, false},
    };
    fs::create_directories(Lost());
    fs::create_directory_symlink(outside.Path(), Lost() / "buh");
    WriteFile(Lost() / "buh\r\nforged", "a file where the folder would be");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lost);
        WriteFile(Mail() / c.folder / "a.txt", "a");
        WriteSettings(c.mail, c.lost, "wrong");
        EXPECT_EQ(scanner_.ProcessMail(), c.result);
        EXPECT_EQ(fs::exists(Mail() / c.folder / "a.txt"), !c.moved);
        EXPECT_EQ(fs::exists(Lost() / c.folder / "a.txt"), c.moved);
        fs::remove_all(Mail() / c.folder);
    }
    EXPECT_TRUE(fs::is_empty(outside.Path())) << "nothing is written through a link";
}

TEST_F(ScanCycleTest, AFolderSwappedForALinkDuringTheSendIsNeverFollowed) {
    testing::TempDir outside;
    WriteFile(outside / "a.txt", "outside");
    WriteFile(Mail() / "buh/a.txt", "inside");
    SmtpServer holding(SmtpServer::Fault::HoldAtRecipients);
    EXPECT_EQ(CycleHeldBy(holding, [&] {
                  fs::rename(Mail() / "buh", Mail() / ".away");
                  fs::create_directory_symlink(outside.Path(), Mail() / "buh");
              }),
              "ok");
    EXPECT_EQ(holding.WaitForMessages(1).at(0).Attachments.at(0).Data, "inside");
    EXPECT_EQ(ReadFile(outside / "a.txt"), "outside");
    EXPECT_TRUE(fs::is_empty(Mail() / ".away"));
}

// A file changed after it was streamed is not deleted; it goes out with its new content later.
TEST_F(ScanCycleTest, AFileChangedDuringTheSendIsSentAgainWithItsNewContent) {
    SmtpServer holding(SmtpServer::Fault::HoldAtData);
    const std::pair<const char*, std::function<void(const fs::path&)>> changes[] = {
        {"replaced", [](const fs::path& f) { WriteFile(f.string() + ".new", "new"); fs::rename(f.string() + ".new", f); }},
        {"rewritten", [](const fs::path& f) { WriteFile(f, "NEW"); }},
        {"appended", [](const fs::path& f) { std::ofstream(f, std::ios::app) << "+more"; }},
    };
    std::size_t sent = 0;
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        WriteFile(Mail() / "buh/a.txt", "old");
        WriteFile(Mail() / "buh/b.txt", "b");
        EXPECT_EQ(CycleHeldBy(holding, [&] { change(Mail() / "buh/a.txt"); }),
                  "ok; not deleted: [a.txt] changed during its send, to be sent again");
        const std::string now = ReadFile(Mail() / "buh/a.txt");
        EXPECT_EQ(NamesIn(Mail() / "buh"), Names{"a.txt"});
        WriteSettings();
        EXPECT_EQ(scanner_.ProcessMail(), "ok");
        EXPECT_EQ(server_.WaitForMessages(++sent).back().Attachments.at(0).Data, now);
    }
}

// A file gone, swapped for a FIFO or replaced before it is read stops the send; the batch stays.
TEST_F(ScanCycleTest, AFileWithdrawnDuringTheSendLeavesTheBatchForTheNextCycle) {
    SmtpServer holding(SmtpServer::Fault::HoldAtRecipients);
    const fs::path b = Mail() / "buh/b.txt";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { fs::remove(b); }, "is gone since it was listed"},
        {[&] { fs::remove(b), ::mkfifo(b.c_str(), 0644); }, "is no longer a regular file"},
        {[&] { WriteFile(Mail() / "b.new", "new"), fs::rename(Mail() / "b.new", b); }, "was replaced or changed since it was listed"},
    };
    for (const auto& [change, reason] : cases) {
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteFile(Mail() / "buh" / name, name);
        EXPECT_EQ(CycleHeldBy(holding, change),
                  kFailed + "buh(Error  26: [b.txt] " + reason + "; the files stay in the mail folder to be sent again)");
        EXPECT_FALSE(fs::exists(Lost()));
        WriteSettings();
        EXPECT_EQ(scanner_.ProcessMail(), "ok");
        EXPECT_FALSE(fs::exists(Mail() / "buh/a.txt") || fs::exists(Mail() / "buh/c.txt")) << "sent by the next cycle";
        fs::remove(b);
    }
    EXPECT_TRUE(holding.Messages().empty());
}

TEST_F(ScanCycleTest, ASentFileThatCannotBeDeletedIsMailedOnce) {
    WriteSettings();
    WriteFile(Mail() / "buh@example.com/a.txt", "a");
    WriteFile(Mail() / "buh@example.com/b.txt", "b");
    if (!SetImmutable(Mail() / "buh@example.com/a.txt", true)) GTEST_SKIP() << "cannot make a file immutable here";
    EXPECT_EQ(scanner_.ProcessMail(),
              "ok; sent but cannot be deleted, not sent again while unchanged: [a.txt] Operation not permitted");
    EXPECT_EQ(scanner_.ProcessMail(), "");
    WriteFile(Mail() / "buh@example.com/c.txt", "c");
    EXPECT_EQ(scanner_.ProcessMail(), "ok");
    EXPECT_EQ(server_.WaitForMessages(2).at(1).Attachments.size(), 1u);

    WriteSettings("wrong");
    WriteFile(Mail() / "buh@example.com/b.txt", "b");
    ASSERT_TRUE(SetImmutable(Mail() / "buh@example.com/a.txt", false));
    ASSERT_TRUE(SetImmutable(Mail() / "buh@example.com/a.txt", true));  // changed: in the batch again
    std::string failed = scanner_.ProcessMail();
    SetImmutable(Mail() / "buh@example.com/a.txt", false);
    EXPECT_EQ(failed.rfind(kFailed + "buh@example.com(Error  67: Login denied (535 5.7.8 Authentication credentials invalid); not moved, still in the mail folder: "
                                     "[a.txt] cannot move ", 0), 0u) << failed;
    EXPECT_EQ(NamesIn(Mail() / "buh@example.com"), Names{"a.txt"});
    EXPECT_EQ(NamesIn(Lost() / "buh@example.com"), Names{"b.txt"});
}

// Across file systems a move copies (mode kept), flushes, and only then removes the source.
TEST_F(ScanCycleTest, LongNamesReachALostFolderOnAnotherFileSystem) {
    if (testing::SameFileSystem(app_.Path(), "/dev/shm")) GTEST_SKIP() << "no second file system at /dev/shm";
    testing::TempDir otherFs("/dev/shm");
    const fs::path lost = otherFs / "lost";
    const std::string name250 = std::string(246, 'x') + ".txt", name255 = std::string(251, 'y') + ".txt";
    WriteSettings(Mail().string(), lost.string(), "wrong");
    WriteFile(Mail() / "buh" / name250, std::string(3 << 20, 'a'));
    WriteFile(Mail() / "buh" / name255, "new");
    fs::permissions(Mail() / "buh" / name255, fs::perms::owner_read | fs::perms::set_uid);
    WriteFile(lost / "buh" / name255, "old");
    WriteFile(lost / "buh/.quorvel-copy-1", "left by a killed move");
    EXPECT_EQ(scanner_.ProcessMail(), kFailed + "buh(Error  67: Login denied (535 5.7.8 Authentication credentials invalid))");
    EXPECT_EQ(ReadFile(lost / "buh" / name250), std::string(3 << 20, 'a'));
    EXPECT_EQ(ReadFile(lost / "buh" / NumberedName(name255, 1)), "new");
    EXPECT_EQ(fs::status(lost / "buh" / NumberedName(name255, 1)).permissions(), fs::perms::owner_read)
        << "the mode is kept, but a copy made by root is never set-user-ID";
    EXPECT_EQ(NamesIn(lost / "buh").size(), 3u) << "no temporary copy left, old or new";
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
}

TEST_F(ScanCycleTest, AnUnwritableMailLogStopsNoMailAndIsReportedOnce) {
    WriteSettings();
    fs::create_directory(log_.Path());
    for (const char* name : {"a.txt", "b.txt"}) {
        WriteFile(Mail() / "buh" / name, "x");
        EXPECT_EQ(scanner_.ProcessMail(), "ok");
    }
    EXPECT_EQ(server_.WaitForMessages(2).size(), 2u);
    EXPECT_EQ(watched.size(), 1u);
}

TEST_F(ScanCycleTest, VisibleRegularFilesDirectlyInAFolderMakeABatchInByteOrder) {
    scanner_.SetMailPath(Mail().string());
    fs::create_directories(Mail() / "X");
    for (const char* file : {"b2", "я.txt", "b10", "B1", ".hidden"}) WriteFile(Mail() / "y" / file, "f");
    WriteFile(Mail() / "y/deeper/file.txt", "deeper folders are ignored");
    WriteFile(app_ / "outside/shadow", "never to be mailed");
    fs::create_symlink(app_ / "outside/shadow", Mail() / "y/link");
    ASSERT_EQ(::mkfifo((Mail() / "y/fifo").c_str(), 0644), 0);
    WriteFile(Mail() / "z/only.txt", "z");
    WriteFile(Mail() / "a-plain.txt", "a plain file in the mail folder is a candidate, never chosen");
    WriteFile(Mail() / ".hidden/secret.txt", "a hidden folder is never seen");
    fs::create_directory_symlink(app_ / "outside", Mail() / "linked-folder");

    EXPECT_EQ(scanner_.FindMailFolder(), "y");
    EXPECT_EQ(scanner_.Folders(), (Names{"X", "a-plain.txt", "y", "z"}));
    EXPECT_EQ(scanner_.Idx(), 2u);
    EXPECT_TRUE(scanner_.CollectFiles());
    EXPECT_EQ(scanner_.Files(), (Names{"B1", "b10", "b2", "я.txt"}));
    EXPECT_EQ(LogTexts(), Names{"Найдены файлы к отправке: [B1] [b10] [b2] [я.txt] "});
    EXPECT_EQ(scanner_.FindMailFolder(), "z") << "the search starts after the folder chosen last";
    EXPECT_EQ(scanner_.FindMailFolder(), "y") << "and wraps around";
}

TEST_F(ScanCycleTest, ALockedFileStopsTheBatchAndAnEmptiedFolderGivesFalse) {
    scanner_.SetMailPath(Mail().string());
    for (const char* file : {"a", "b", "c"}) WriteFile(Mail() / "r" / file, "f");
    lockTest_.Locked = {"b"};
    ASSERT_EQ(scanner_.FindMailFolder(), "r");
    EXPECT_FALSE(scanner_.CollectFiles());
    EXPECT_EQ(scanner_.Files(), Names{"a"});
    EXPECT_EQ(lockTest_.asked.size(), 2u) << "the files after the locked one are not tested";
    EXPECT_EQ(fs::path(lockTest_.asked[0]).filename(), "a");

    ASSERT_EQ(scanner_.FindMailFolder(), "r");
    fs::remove_all(Mail() / "r");
    EXPECT_FALSE(scanner_.CollectFiles());
    EXPECT_EQ(LogTexts(), Names{"Файл b заблокирован и не может быть отправлен"});
}

TEST_F(ScanCycleTest, BatchesHaveNoSixteenBitLimitAndListingErrorsNameThePathAndTheReason) {
    constexpr std::size_t kCount = 32768 + 2;
    scanner_.SetMailPath(Mail().string());
    fs::create_directories(Mail() / "many");
    for (std::size_t i = 0; i < kCount; ++i) {
        ::close(::open((Mail() / "many" / std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0644));
    }
    ASSERT_EQ(scanner_.FindMailFolder(), "many");
    EXPECT_TRUE(scanner_.CollectFiles());
    EXPECT_EQ(scanner_.FileCount(), kCount);

    scanner_.SetMailPath((app_ / "missing").string());
    try {
        scanner_.FindMailFolder();
        ADD_FAILURE() << "a missing mail folder must raise an error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), "cannot list " + (app_ / "missing").string() + ": No such file or directory");
    }
}

}  // namespace
}  // namespace quorvel
