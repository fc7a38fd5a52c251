#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "base/Error.h"
#include "base/FileDescriptor.h"
#include "delivery/CycleResultText.h"
#include "delivery/Scanner.h"
#include "dropfolder/FileMover.h"
#include "support/FixedClock.h"
#include "support/SmtpServer.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile, testing::SmtpServer, testing::WriteFile;
using Names = std::vector<std::string>;
using std::chrono::seconds;

Names NamesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
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

// A mount for one test, undone at its end; Made() is false where this process may not mount.
class ScopedMount {
public:
    ScopedMount(const char* source, const fs::path& target, const char* type, unsigned long flags,
                const char* data)
        : target_(target),
          made_((fs::create_directories(target),
                 ::mount(source, target.c_str(), type, flags, data) == 0)) {}
    ~ScopedMount() {
        if (made_) ::umount2(target_.c_str(), MNT_DETACH);
    }
    bool Made() const { return made_; }

private:
    fs::path target_;
    bool made_;
};

// True while this process holds a descriptor of `folder` or of anything in it.
bool HoldsDescriptorIn(const fs::path& folder) {
    std::error_code ignored;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        if (fs::read_symlink(fd, ignored).string().starts_with(folder.string())) return true;
    }
    return false;
}

const std::string kFailed = "Не удалось отправить файлы на адрес: ";
const std::string kDenied = "(Error  67: Login denied (535 5.7.8)";
const std::string kStay = ", the files stay in the mail folder)";

// Counts the files named in `Locked` as held by another process and remembers every path asked
// about.
class ScriptedLockTest final : public LockTest {
public:
    Verdict Check(const std::filesystem::path& path) const override {
        asked.push_back(path.filename().string());
        return Locked.count(path.filename().string()) > 0 ? Verdict::Locked
               : unseen                                   ? Verdict::Unseen
                                                          : Verdict::Free;
    }
    std::set<std::string> Locked;
    bool unseen = false;
    mutable Names asked;
};

// A service folder with options.ini pointing at mail/ and lost/ under it and at a test SMTP server,
// and a Scanner over it on a clock the test moves. What mail.log's watcher hears is kept in
// `watched`.
class ScanCycleTest : public ::testing::Test {
protected:
    // options.ini for `server` (server_ when null) with the [SMTP] lines of `more`; "buh" is
    // buh@example.com.
    void WriteSettings(const std::string& mail, const std::string& lost,
                       const std::string& password = "secret", const SmtpServer* server = nullptr,
                       const std::string& more = "") {
        WriteFile(app_ / "options.ini", "[Main]\r\nMailFolder=" + mail + "\r\nLostFolder=" + lost +
                                            "\r\nMail=sender@example.com\r\n" +
                                            (server ? *server : server_).SmtpSection(5, password) +
                                            more + "[alias]\r\nbuh=buh@example.com\r\n");
        scanner_.Ini().FileName(app_ / "options.ini");
    }
    void WriteSettings(const std::string& password = "secret") {
        WriteSettings(Mail(), Lost(), password);
    }

    // One cycle against `server`, which holds its reply while `during` runs.
    std::string CycleHeldBy(const SmtpServer& server, const std::function<void()>& during) {
        WriteSettings(Mail(), Lost(), "secret", &server, "RetryFor=600\r\n");  // a change is no try
        auto cycle = std::async(std::launch::async,
                                [this] { return ReportOf(scanner_.ProcessMail()).Text; });
        EXPECT_TRUE(server.WaitUntilHeld());
        during();
        server.Release();
        return cycle.get();
    }

    std::filesystem::path Mail() const { return app_ / "mail"; }
    std::filesystem::path Lost() const { return app_ / "lost"; }
    Names LogTexts() const { return testing::LogTexts(log_.Path()); }

    testing::TempDir app_;
    SmtpServer server_;
    testing::FixedClock clock_;
    Names watched;
    MailLog log_{app_.Path(), clock_,
                 [this](bool, const std::string& text) { watched.push_back(text); }};
    ScriptedLockTest lockTest_;
    Scanner scanner_{app_.Path(), log_, lockTest_, clock_};
};

// Only the batch is deleted: a file dropped while the server holds its reply stays for the next
// cycle. An empty file is sent and deleted like any other, in a batch and alone. The cycle shows
// that it is sending; after it, no descriptor of the mail folder is left open.
TEST_F(ScanCycleTest, ASentBatchIsDeletedAndItsFolderKept) {
    WriteFile(Mail() / "buh/empty.txt", "");
    WriteFile(Mail() / "buh/report.pdf", "pdf");
    WriteFile(Mail() / "buh/report.xml", "xml");
    fs::permissions(Mail() / "buh/report.xml", fs::perms::owner_read);
    SmtpServer holding(SmtpServer::Fault::HoldAtData);
    EXPECT_EQ(CycleHeldBy(holding,
                          [&] {
                              WriteFile(Mail() / "buh/late.txt", "");
                              EXPECT_EQ(scanner_.Progress().Phase(), CyclePhase::Sending);
                              EXPECT_TRUE(HoldsDescriptorIn(Mail()));
                              WriteSettings();
                              Scanner second{app_.Path(), log_, lockTest_,
                                             clock_};  // as a second process on the same folders
                              second.Ini().FileName(app_ / "options.ini");
                              EXPECT_EQ(ReportOf(second.ProcessMail()).Text, "")
                                  << "a folder that another one sends is skipped";
                          }),
              "ok");
    EXPECT_EQ(scanner_.Progress().Phase(), CyclePhase::Idle);
    EXPECT_FALSE(HoldsDescriptorIn(Mail()));
    const auto message = holding.WaitForMessages(1).at(0);
    std::string attachments;
    for (const auto& a : message.Attachments) attachments += " " + a.FileName + "=" + a.Data;
    EXPECT_EQ(message.Header("To") + attachments,
              "buh@example.com empty.txt= report.pdf=pdf report.xml=xml");
    EXPECT_EQ(NamesIn(Mail() / "buh"), Names{"late.txt"});
    EXPECT_EQ(LogTexts(), (Names{"Найден непустой каталог: buh",
                                 "Найдены файлы к отправке: [empty.txt] [report.pdf] [report.xml] ",
                                 "Отправка почты на: buh", "Найден непустой каталог: buh"}));
    WriteSettings();
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "ok");
    EXPECT_EQ(server_.WaitForMessages(1).at(0).Attachments.at(0).FileName, "late.txt");
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "");
    EXPECT_EQ(LogTexts().size(), 7u) << "a cycle with nothing to do logs nothing";
}
TEST_F(ScanCycleTest, EachCycleStartsAfterTheFolderTriedLastSoNoFolderHoldsBackTheOthers) {
    WriteSettings();
    WriteFile(Mail() / "b@example.com/x.txt", "b");
    WriteFile(Mail() / "a@example.com/y.txt", "a");
    WriteFile(Mail() / "a@example.com/l\r\n01.01.2026 00:00:00 - forged", "a");
    lockTest_.Locked = {"l\r\n01.01.2026 00:00:00 - forged"};
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "");
    EXPECT_EQ(scanner_.HeldByLock(), "a@example.com");
    EXPECT_EQ(LogTexts().back(),
              "Файл l__01.01.2026 00:00:00 - forged заблокирован и не может быть отправлен");
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "ok")
        << "the locked first folder does not stop the second";
    lockTest_.Locked.clear();
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "ok");
    WriteFile(Mail() / "b@example.com/x.txt", "b");
    for (int cycle = 0; cycle < 2; ++cycle) {  // a first folder refilled after every cycle
        WriteFile(Mail() / "a@example.com/y.txt", "a");
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "ok");
    }
    Names to;
    std::set<std::string> ids;  // all sent within one second of the clock
    for (const auto& message : server_.WaitForMessages(4)) {
        to.push_back(message.Header("To").substr(0, 1));
        ids.insert(message.Header("Message-ID"));
    }
    EXPECT_EQ(to, (Names{"b", "a", "b", "a"}));
    EXPECT_EQ(ids.size(), 4u);
}
// An unwritable mail.log stops no mail and is reported once.
TEST_F(ScanCycleTest, FailedBatchesGoToTheLostFolderAndNeverReplaceEachOther) {
    WriteSettings("wrong");
    fs::create_directory(log_.Path());
    fs::create_directories(Mail() / "buh");
    fs::permissions(Mail() / "buh", fs::perms(0750));
    for (const char* content : {"first", "second"}) {
        WriteFile(Mail() / "buh/report.pdf", content);
        WriteFile(Mail() / "buh/notes.txt", content);
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, kFailed + "buh" + kDenied + ")");
    }
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
    EXPECT_EQ(NamesIn(Lost() / "buh"),
              (Names{"notes (1).txt", "notes.txt", "report (1).pdf", "report.pdf"}));
    EXPECT_EQ(ReadFile(Lost() / "buh/report (1).pdf"), "second");
    EXPECT_EQ(fs::status(Lost()).permissions(), fs::perms(0700));
    EXPECT_EQ(fs::status(Lost() / "buh").permissions(), fs::perms(0750))
        << "no more open than the folder it mirrors";
    EXPECT_TRUE(server_.Messages().empty());
    EXPECT_EQ(watched.size(), 1u);
}
// The lost folder's rules: relative folders, a closing "/" or "\", overlap, nothing through a link.
TEST_F(ScanCycleTest, TheLostFolderIsUsedOnlyWhereItIsSafe) {
    testing::TempDir outside;
    const std::string
        mail = Mail(),
        lost = Lost(),
        overlap =
            "; Каталог неотправленной почты не может совпадать "
            "с каталогом почты или лежать с ним один в другом: [Main] MailFolder = \"" +
            mail + "\", [Main] LostFolder = \"";
    const struct {
        std::string folder, mail, lost, result;
    } cases[] = {
        {"x@example.com", "mail/", "lost\\", kFailed + "x@example.com" + kDenied + ")"},
        {"buh", mail, mail + "/", kFailed + "buh" + kDenied + overlap + mail + "\"" + kStay},
        {"buh", mail + "\\", "mail/buh",
         kFailed + "buh" + kDenied + overlap + mail + "/buh\"" + kStay},
        {"buh", mail + "/", lost + "/",
         kFailed + "buh" + kDenied + "; " + lost + "/buh is not a real folder" + kStay},
        {"buh\r\nforged", mail, lost + "\\",
         kFailed + "buh__forged(Error  22: invalid e-mail address \"buh__forged\"; " + lost +
             "/buh__forged is not a real folder" + kStay},
        {"buh", mail, "", kFailed + "buh" + kDenied + "; LostFolder is empty)"},
        {"buh", mail, app_.Path().string() + "/no/lost/",
         kFailed + "buh" + kDenied + "; cannot create " + app_.Path().string() +
             "/no/lost: No such file or directory" + kStay},
    };
    fs::create_directories(Lost());
    fs::create_directory_symlink(outside.Path(), Lost() / "buh");
    WriteFile(Lost() / "buh\r\nforged", "a file where the folder would be");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lost);
        WriteFile(Mail() / c.folder / "a.txt", "a");
        WriteSettings(c.mail, c.lost, "wrong");
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, c.result);
        EXPECT_EQ(fs::exists(Lost() / c.folder / "a.txt"), c.folder == "x@example.com");
        fs::remove_all(Mail() / c.folder);
    }
    EXPECT_TRUE(fs::is_empty(outside.Path())) << "nothing is written through a link";
    const ScopedMount bound(mail.c_str(), app_ / "bound", nullptr, MS_BIND, nullptr);
    if (!bound.Made()) GTEST_SKIP() << "cannot bind-mount here (not root?)";
    WriteFile(Mail() / "buh/a.txt", "a");
    WriteSettings(mail, app_ / "bound", "wrong");
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text,
              kFailed + "buh" + kDenied + overlap + (app_ / "bound").string() + "\"" + kStay)
        << "a bind mount of the mail folder is the mail folder";
}
// The named folders are pinned at the settings check: a mail or lost folder swapped for a link
// since is never used. The cycle says so once and sends nothing until the folder is back.
TEST_F(ScanCycleTest, AMailOrLostFolderSwappedSinceTheSettingsCheckIsNeverUsed) {
    testing::TempDir outside;
    WriteFile(outside / "buh/secret.txt", "secret");
    WriteSettings("wrong");
    fs::create_directories(Lost()), fs::create_directories(Mail());
    scanner_.PinFolders();
    for (const auto& [key, folder] :
         {std::pair{"MailFolder", Mail()}, std::pair{"LostFolder", Lost()}}) {
        WriteFile(Mail() / "buh/a.txt", "a");
        fs::rename(folder, app_ / "away");
        fs::create_directory_symlink(outside.Path(), folder);
        const std::string said = ReportOf(scanner_.ProcessMail()).Text,
                          commands = server_.Commands();
        EXPECT_EQ(said.rfind("[Main] " + std::string(key) + " " + folder.string() +
                                 " is not the folder it was when the "
                                 "settings were checked (device ",
                             0),
                  0u)
            << said;
        EXPECT_NE(said.find("; now device "), std::string::npos) << said;
        EXPECT_EQ(scanner_.ReplacedFolder(), folder);
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "") << "said once";
        EXPECT_EQ(server_.Commands(), commands) << "nothing sent";
        fs::remove(folder);
        fs::rename(app_ / "away", folder);
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, kFailed + "buh" + kDenied + ")");
        EXPECT_EQ(scanner_.ReplacedFolder(), "");
    }
    EXPECT_EQ(NamesIn(outside / "buh"), Names{"secret.txt"});
    EXPECT_EQ(NamesIn(Lost() / "buh"), (Names{"a (1).txt", "a.txt"}));
}
// A cycle reads options.ini once: a LostFolder saved during the send does not move this batch.
TEST_F(ScanCycleTest, ACycleKeepsTheSettingsItStartedWith) {
    SmtpServer refusing(SmtpServer::Fault::HoldAtRecipients, {"buh@example.com"});
    WriteFile(Mail() / "buh/a.txt", "a");
    EXPECT_EQ(CycleHeldBy(refusing,
                          [&] {
                              std::string text = ReadFile(app_ / "options.ini");
                              WriteFile(app_ / "options.ini",
                                        text.replace(text.find(Lost().string()),
                                                     Lost().string().size(), app_ / "other"));
                          }),
              kFailed + "buh(Error  55: RCPT failed: 550 5.1.1 Recipient address rejected)");
    EXPECT_EQ(NamesIn(Lost() / "buh"), Names{"a.txt"});
    EXPECT_FALSE(fs::exists(app_ / "other"));
}
TEST_F(ScanCycleTest, AFolderSwappedForALinkDuringTheSendIsNeverFollowed) {
    testing::TempDir outside;
    WriteFile(outside / "a.txt", "outside");
    WriteFile(Mail() / "buh/a.txt", "inside");
    SmtpServer holding(SmtpServer::Fault::HoldAtRecipients);
    EXPECT_EQ(CycleHeldBy(holding,
                          [&] {
                              fs::rename(Mail() / "buh", Mail() / ".away");
                              fs::create_directory_symlink(outside.Path(), Mail() / "buh");
                          }),
              "ok");
    EXPECT_EQ(holding.WaitForMessages(1).at(0).Attachments.at(0).Data, "inside");
    EXPECT_EQ(ReadFile(outside / "a.txt"), "outside");
    EXPECT_TRUE(fs::is_empty(Mail() / ".away"));
}
// A file changed after it was streamed, or opened for writing since its listing, is not deleted;
// one that changed only its mode and times, its content still what was sent, is. One gone, swapped
// for a FIFO or replaced before it is read stops the send and the batch stays. The next cycle
// sends what is there then.
TEST_F(ScanCycleTest, AFileChangedDuringTheSendStaysAndGoesOutWithItsNewContent) {
    SmtpServer atData(SmtpServer::Fault::HoldAtData),
        atRecipients(SmtpServer::Fault::HoldAtRecipients);
    const fs::path b = Mail() / "buh/b.txt";
    const std::string changed =
                          "ok; not deleted: [b.txt] changed during its send, to be sent again",
                      stopped = kFailed + "buh(Error  26: [b.txt] ",
                      stay = "; the files stay in the mail folder to be sent again)";
    const auto replace = [&] {
        WriteFile(Mail() / "b.new", "new"), fs::rename(Mail() / "b.new", b);
    };
    const auto chmod = [&] {
        fs::permissions(b, fs::perms::owner_read), fs::last_write_time(b, fs::file_time_type());
    };
    const Names all = {"a.txt", "b.txt", "c.txt"};
    const struct {
        const SmtpServer& server;
        std::function<void()> change;
        std::string result;
        Names left;
    } cases[] = {
        {atData, replace, changed, {"b.txt"}},
        {atData, [&] { WriteFile(b, "NEW"); }, changed, {"b.txt"}},
        {atData, [&] { WriteFile(b, "B.TXT"); }, changed, {"b.txt"}},
        {atData, chmod, "ok", {}},
        {atData,
         [&] {
             const auto start = std::chrono::steady_clock::now();  // the lease is given up at once
             FileDescriptor(::open(b.c_str(), O_WRONLY));
             EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(20));
         },
         "ok; not deleted: [b.txt] opened for writing during its send, to be sent again",
         {"b.txt"}},
        {atData, [&] { std::ofstream(b, std::ios::app) << "+more"; }, changed, {"b.txt"}},
        {atRecipients,
         [&] { fs::remove(b); },
         stopped + "is gone since it was listed" + stay,
         {"a.txt", "c.txt"}},
        {atRecipients, [&] { fs::remove(b), ::mkfifo(b.c_str(), 0644); },
         stopped + "is no longer a regular file" + stay, all},
        {atRecipients, replace, stopped + "was replaced or changed since it was listed" + stay,
         all},
    };
    std::size_t sent = 0;  // messages from the cycles after the held ones
    for (const auto& c : cases) {
        for (const auto& name : all) WriteFile(Mail() / "buh" / name, name);
        EXPECT_EQ(CycleHeldBy(c.server, c.change), c.result);
        EXPECT_EQ(NamesIn(Mail() / "buh"), c.left);
        EXPECT_FALSE(fs::exists(Lost()));
        if (c.left.empty()) continue;
        ++sent;
        std::map<std::string, std::string> now, received;
        for (const auto& f : fs::directory_iterator(Mail() / "buh"))
            if (f.is_regular_file()) now[f.path().filename()] = ReadFile(f.path());
        WriteSettings();
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "ok");
        const auto message = server_.WaitForMessages(sent).at(sent - 1);
        for (const auto& a : message.Attachments) received[a.FileName] = a.Data;
        EXPECT_EQ(received, now);
        fs::remove(b);
        EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
    }
    EXPECT_TRUE(atRecipients.Messages().empty());
}
TEST_F(ScanCycleTest, ASentFileThatCannotBeDeletedIsMailedOnce) {
    WriteSettings();
    WriteFile(Mail() / "buh/a.txt", "a"), WriteFile(Mail() / "buh/b.txt", "b");
    if (!SetImmutable(Mail() / "buh/a.txt", true))
        GTEST_SKIP() << "cannot make a file immutable here";
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()),
              (CycleReport{"ok; sent but cannot be deleted, not sent again while unchanged: "
                           "[a.txt] Operation not permitted",
                           JournalWeight::Error}));
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "");
    WriteFile(app_ / "undeletable.state",
              "a damaged line\n" + ReadFile(app_ / "undeletable.state"));
    Scanner restarted{app_.Path(), log_, lockTest_, clock_};
    restarted.Ini().FileName(app_ / "options.ini");
    EXPECT_EQ(ReportOf(restarted.ProcessMail()).Text, "") << "remembered across a restart";
    WriteSettings("wrong");
    WriteFile(Mail() / "buh/c.txt", "c");
    ASSERT_TRUE(SetImmutable(Mail() / "buh/a.txt", false) &&
                SetImmutable(Mail() / "buh/a.txt", true));  // changed
    const std::string failed = ReportOf(scanner_.ProcessMail()).Text;
    SetImmutable(Mail() / "buh/a.txt", false);
    EXPECT_EQ(failed.rfind(kFailed + "buh" + kDenied +
                               "; not moved, still in the mail folder: [a.txt] cannot move ",
                           0),
              0u)
        << failed;
    EXPECT_EQ(NamesIn(Mail() / "buh"), Names{"a.txt"});
    EXPECT_EQ(NamesIn(Lost() / "buh"), Names{"c.txt"});
}
// Across file systems a move copies (mode kept), flushes, and only then removes the source.
TEST_F(ScanCycleTest, LongNamesReachALostFolderOnAnotherFileSystem) {
    if (testing::SameFileSystem(app_.Path(), "/dev/shm"))
        GTEST_SKIP() << "no second file system at /dev/shm";
    testing::TempDir otherFs("/dev/shm");
    const fs::path lost = otherFs / "lost";
    const std::string name250 = std::string(246, 'x') + ".txt",
                      name255 = std::string(251, 'y') + ".txt";
    WriteSettings(Mail(), lost, "wrong");
    WriteFile(Mail() / "buh" / name250, std::string(3 << 20, 'a'));
    WriteFile(Mail() / "buh" / name255, "new");
    fs::permissions(Mail() / "buh" / name255, fs::perms::owner_read | fs::perms::set_uid);
    WriteFile(lost / "buh" / name255, "old");
    WriteFile(lost / "buh/.quorvel-copy-1", "left by a killed move");
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, kFailed + "buh" + kDenied + ")");
    EXPECT_EQ(ReadFile(lost / "buh" / name250), std::string(3 << 20, 'a'));
    EXPECT_EQ(ReadFile(lost / "buh" / NumberedName(name255, 1)), "new");
    EXPECT_EQ(fs::status(lost / "buh" / NumberedName(name255, 1)).permissions(),
              fs::perms::owner_read)
        << "the mode is kept, but a copy made by root is never set-user-ID";
    EXPECT_EQ(NamesIn(lost / "buh").size(), 3u) << "no temporary copy left, old or new";
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
}
// A file the lost folder has no room for stays in the mail folder, and its folder is not tried
// again before RetryDelay: a full disk is not churned every cycle.
TEST_F(ScanCycleTest, ABatchThatFindsNoRoomInTheLostFolderWaitsRetryDelay) {
    const ScopedMount small("tmpfs", app_ / "small", "tmpfs", 0, "size=1m");
    if (!small.Made()) GTEST_SKIP() << "cannot mount a small file system here (not root?)";
    WriteSettings(Mail(), app_ / "small/lost", "wrong", nullptr, "RetryDelay=30\r\n");
    WriteFile(Mail() / "buh/big.bin", std::string(2 << 20, 'b'));
    const auto t0 = clock_.now;
    for (int after : {0, 29, 30}) {
        clock_.now = t0 + seconds(after);
        const std::string result = ReportOf(scanner_.ProcessMail()).Text;
        if (after == 29)
            EXPECT_EQ(result, "");
        else
            EXPECT_TRUE(
                result.starts_with(kFailed + "buh" + kDenied +
                                   "; not moved, still in the mail folder: [big.bin] cannot copy "
                                   "big.bin (2097152 bytes, ") &&
                result.ends_with(
                    "No space left on device; no room in the lost folder, tried again at " +
                    LocalTimestamp(clock_.now + seconds(30)).substr(11) + ")"))
                << result;
    }
    EXPECT_EQ(ReadFile(Mail() / "buh/big.bin").size(), 2u << 20);
}
// Where writers can be out of sight, a file goes out once its size and modification time have kept
// still for the quiet period, 5 s unless [Main] QuietSeconds sets it (then for every file).
TEST_F(ScanCycleTest, AFileWhoseWritersCannotBeSeenGoesOutOnceQuiet) {
    WriteSettings();
    lockTest_.unseen = true;
    WriteFile(Mail() / "buh/a.txt", "a");
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "");
    clock_.now += seconds(4);
    std::ofstream(Mail() / "buh/a.txt", std::ios::app) << "b";  // the remote writer goes on
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "");
    EXPECT_EQ(scanner_.HeldByLock(), "buh");
    clock_.now += seconds(4);
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "") << "its quiet period started again";
    clock_.now += seconds(1);
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "ok");
    EXPECT_EQ(server_.WaitForMessages(1).at(0).Attachments.at(0).Data, "ab");
    for (const char* quiet : {"0", "2"}) {
        WriteSettings(Mail().string() + "\r\nQuietSeconds=" + quiet, Lost());
        lockTest_.unseen = quiet[0] == '0';
        WriteFile(Mail() / "buh/b.txt", quiet);
        if (quiet[0] == '2') {
            EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "")
                << "a set quiet period holds every file";
            clock_.now += seconds(2);
        }
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "ok") << quiet;
    }
}
// A batch is the visible regular files directly in one folder, in byte order, and a locked file
// stops it; hidden files and folders, links, FIFOs, deeper folders and files in the mail folder
// itself are never mailed.
TEST_F(ScanCycleTest, VisibleRegularFilesDirectlyInAFolderMakeABatchInByteOrder) {
    WriteSettings();
    fs::create_directories(Mail() / "X");
    for (const char* file : {"b2", "я.txt", "b10", "B1", ".hidden", "c", "d"})
        WriteFile(Mail() / "buh" / file, "f");
    WriteFile(Mail() / "buh/deeper/file.txt", "deeper folders are ignored");
    WriteFile(app_ / "outside/shadow", "never to be mailed");
    fs::create_symlink(app_ / "outside/shadow", Mail() / "buh/link");
    ASSERT_EQ(::mkfifo((Mail() / "buh/fifo").c_str(), 0644), 0);
    WriteFile(Mail() / "a-plain.txt", "a plain file in the mail folder is never chosen");
    WriteFile(Mail() / ".hidden/secret.txt", "a hidden folder is never seen");
    fs::create_directory_symlink(app_ / "outside", Mail() / "linked-folder");
    lockTest_.Locked = {"c"};
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "");
    EXPECT_EQ(lockTest_.asked, (Names{"B1", "b10", "b2", "c"}))
        << "none tested after the locked one";
    lockTest_.Locked.clear();
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "ok");
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "") << "nothing else is mailed";
    Names sent;
    const auto message = server_.WaitForMessages(1).at(0);
    for (const auto& a : message.Attachments) sent.push_back(a.FileName);
    EXPECT_EQ(sent, (Names{"B1", "b10", "b2", "c", "d", "я.txt"}));
    EXPECT_EQ(NamesIn(Mail() / "buh"), (Names{".hidden", "deeper", "fifo", "link"}));
}
TEST_F(ScanCycleTest, BatchesHaveNoSixteenBitLimitAndListingErrorsNameThePathAndTheReason) {
    constexpr std::size_t kCount = 32768 + 2;
    fs::create_directories(Mail() / "many");
    for (std::size_t i = 0; i < kCount; ++i)
        ::close(::open((Mail() / "many" / std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0644));
    std::optional<ChosenFolder> chosen = scanner_.FindMailFolder(Mail());
    ASSERT_TRUE(chosen && chosen->Name == "many");
    std::optional<Batch> batch = scanner_.CollectFiles(std::move(*chosen));
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->Files().size(), kCount);
    std::string error = "a missing mail folder was listed";
    try {
        scanner_.FindMailFolder((app_ / "missing").string());
    } catch (const Error& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "cannot list " + (app_ / "missing").string() + ": No such file or directory");
}
// A passing failure keeps the batch while RetryFor (9 s) allows, tried again every RetryDelay
// (3 s) counted from the first failure; the waiting folder does not hold back another one.
// Lasting failures, or no RetryFor, send the batch to the lost folder at once.
TEST_F(ScanCycleTest, APassingFailureWaitsAloneUntilRetryForRunsOut) {
    SmtpServer deferring(SmtpServer::Fault::DeferRecipients, {"buh@example.com"});
    const std::string retry = "RetryFor=9\r\nRetryDelay=3\r\n";
    WriteSettings(Mail(), Lost(), "secret", &deferring, retry);
    WriteFile(Mail() / "buh/a.txt", "a");
    const std::string failure =
        kFailed + "buh(Error  55: RCPT failed: 451 4.2.1 Mailbox busy, try again later";
    const auto t0 = clock_.now;
    for (int after : {0, 3, 6}) {
        clock_.now = t0 + seconds(after);
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()),
                  (CycleReport{"Отправка отложена до " +
                                   LocalTimestamp(t0 + seconds(after + 3)).substr(11) + ": " +
                                   failure + ")",
                               JournalWeight::Information}));
        WriteFile(Mail() / "x@example.com/b.txt", "b");
        clock_.now += seconds(2);
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()), (CycleReport{"ok", JournalWeight::None}))
            << "the waiting folder holds back no other";
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text, "") << "and waits";
    }
    clock_.now = t0 + seconds(9);
    EXPECT_EQ(ReportOf(scanner_.ProcessMail()), (CycleReport{failure + ")", JournalWeight::Error}));
    EXPECT_TRUE(fs::exists(Lost() / "buh/a.txt"));
    EXPECT_TRUE(scanner_.Retries().Waiting().empty());
    using enum SmtpServer::Fault;  // lasting failures, or no RetryFor; then down, or 451 to the
                                   // data, for two tries
    const struct {
        SmtpServer::Fault fault;
        std::string password, retry;
        int deferred;
    } cases[] = {{RefuseRecipients, "secret", retry, 0},
                 {None, "wrong", retry, 0},
                 {DeferRecipients, "secret", "", 0},
                 {DownFirst, "secret", retry, 2},
                 {FailFirst, "secret", retry, 2}};
    for (const auto& c : cases) {
        SmtpServer server(c.fault, {"buh@example.com"});
        WriteSettings(Mail(), Lost(), c.password, &server, c.retry);
        WriteFile(Mail() / "buh/c.txt", "c");
        for (int tries = 0; tries < c.deferred; ++tries, clock_.now += seconds(3)) {
            EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text.rfind("Отправка отложена до ", 0), 0u);
        }
        EXPECT_EQ(ReportOf(scanner_.ProcessMail()).Text.rfind(c.deferred ? "ok" : kFailed, 0), 0u);
        EXPECT_EQ(fs::exists(Lost() / "buh/c.txt"), c.deferred == 0);
        fs::remove(Lost() / "buh/c.txt");
    }
}
// Auth=oauth2: a token is reused until shortly before it expires and fetched once more when the
// server refuses it; a rotated refresh token is used from then on, also after a restart; a refused
// grant sends the batch to the lost folder at once, an endpoint down or answering 503 keeps it for
// a retry. Secrets come from options.ini, a file or a credential; none, nor a token, is ever shown.
TEST_F(ScanCycleTest, OAuthTokensAreReusedRenewedAndRotatedAndNeverShown) {
    SmtpServer server(SmtpServer::Fault::None, {}, "none", 0, "both");
    WriteFile(app_ / "client.txt", "client-secret\nignored\n");
    WriteFile(app_ / "creds/refresh", "refresh-secret-1");
    ::setenv("CREDENTIALS_DIRECTORY", (app_ / "creds").c_str(), 1);
    const auto configure = [&](const std::string& url, const std::string& grant) {
        WriteSettings(Mail(), Lost(), "", &server,
                      "Auth=OAuth2\r\nTokenUrl=" + url + "\r\nCAFile=" + server.CAFile().string() +
                          "\r\nClientId=quorvel-client\r\nRetryFor=600\r\n" + grant);
    };
    std::string shown;
    const auto cycle = [&](Scanner& scanner, int after) {
        clock_.now += seconds(after);
        WriteFile(Mail() / "buh/a.txt", "a");
        shown += ReportOf(scanner.ProcessMail()).Text + "\n";
        return shown.substr(shown.rfind('\n', shown.size() - 2) + 1);
    };
    configure(server.TokenUrl(),
              "ClientSecret=client-secret\r\nScope=https://mail.example.com/.default\r\n");
    std::string requests;
    for (const auto& [after, revoke, fetched] : std::vector<std::tuple<int, bool, bool>>{
             {0, false, true}, {3000, false, false}, {541, false, true}, {0, true, true}}) {
        if (revoke) server.RevokeTokens();
        EXPECT_EQ(cycle(scanner_, after), "ok\n") << after;
        if (fetched)
            requests +=
                "client_id=quorvel-client client_secret=client-secret "
                "grant_type=client_credentials "
                "scope=https://mail.example.com/.default\n";
        EXPECT_EQ(server.TokenRequests(), requests) << after;
    }
    EXPECT_EQ(
        server.Logins(),
        "OAUTHBEARER ok\nOAUTHBEARER ok\nOAUTHBEARER ok\nOAUTHBEARER refused\nOAUTHBEARER ok\n");
    server.SetTokenMode("rotate");
    configure(server.TokenUrl(),
              "ClientSecretFile=client.txt\r\nRefreshTokenFile=credential:refresh\r\n");
    EXPECT_EQ(cycle(scanner_, 0), "ok\n");
    Scanner restarted{app_.Path(), log_, lockTest_, clock_};
    restarted.Ini().FileName(app_ / "options.ini");
    EXPECT_EQ(cycle(restarted, 0), "ok\n") << "the endpoint takes only the rotated refresh token";
    EXPECT_EQ(fs::status(app_ / "oauth-refresh-token").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_NE(
        server.TokenRequests().find("grant_type=refresh_token refresh_token=refresh-secret-1\n"),
        std::string::npos);
    server.SetTokenMode("invalid_grant");
    EXPECT_EQ(cycle(restarted, 3600),
              kFailed +
                  "buh(Error  67: the token endpoint answered 400 to the refresh_token "
                  "grant: invalid_grant: Token has been expired or revoked.)\n");
    EXPECT_TRUE(fs::exists(Lost() / "buh/a.txt"));
    server.SetTokenMode("503");
    for (const auto& [url, error] : std::vector<std::pair<std::string, std::string>>{
             {"https://127.0.0.1:1/token",
              "Error  7: the token endpoint cannot be used: Failed to connect"},
             {server.TokenUrl(),
              "Error  8: the token endpoint answered 503 to the refresh_token grant: "
              "temporarily_unavailable)"}}) {
        configure(url, "ClientSecretFile=client.txt\r\nRefreshTokenFile=credential:refresh\r\n");
        const std::string result = cycle(restarted, 60);
        EXPECT_EQ(result.rfind("Отправка отложена до ", 0), 0u) << result;
        EXPECT_NE(result.find(error.substr(0, 40)), std::string::npos) << result;
    }
    ::unsetenv("CREDENTIALS_DIRECTORY");
    for (const std::string secret : {"client-secret", "refresh-secret", "access-token"}) {
        EXPECT_EQ((shown + ReadFile(log_.Path())).find(secret), std::string::npos) << secret;
    }
}
// Killed at any instant, a cycle leaves every file of its batch in the mail folder, in the lost
// folder or delivered, never in none; what a killed move leaves behind goes when the service
// starts.
TEST_F(ScanCycleTest, NoFileIsLostWhereverTheCycleIsKilled) {
    std::optional<testing::TempDir> otherFs;
    if (!testing::SameFileSystem(app_.Path(), "/dev/shm")) otherFs.emplace("/dev/shm");
    const fs::path otherLost = otherFs ? otherFs->Path() / "lost" : Lost();
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    long span =
        1000;  // microseconds; runs -2 and -1 are not killed and tell how long a cycle takes
    for (int run = -2; run < 40; ++run) {
        const fs::path lost = run < 0 || run % 4 == 3 ? otherLost : Lost();
        WriteSettings(Mail(), lost, run % 2 == 0 ? "secret" : "wrong");
        std::map<std::string, std::string> batch;
        for (int j = 0; j < 3; ++j) {
            const std::string name = "run" + std::to_string(run) + "-" + std::to_string(j) + ".bin";
            WriteFile(Mail() / "buh" / name,
                      batch[name] = std::string(100000 + 1000 * j + run, 'a' + j));
        }
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) try {
                ReportOf(scanner_.ProcessMail()).Text, ::_exit(0);
            } catch (...) {
                ::_exit(0);
            }
        if (run >= 0)
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<long>(0, span)(random))),
                ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        if (run < 0) span = std::max(span, took.count() * 6 / 5);
        std::set<std::string> found;  // name and content
        std::error_code ec;
        for (const auto& m : server_.Messages())
            for (const auto& a : m.Attachments) found.insert(a.FileName + a.Data);
        for (const auto& folder : {Mail() / "buh", lost / "buh"})
            for (const auto& f : fs::directory_iterator(folder, ec))
                found.insert(f.path().filename().string() + ReadFile(f.path()));
        for (const auto& [name, content] : batch)
            EXPECT_TRUE(found.count(name + content)) << name << " is nowhere; seed " << seed;
        for (const auto& entry : fs::directory_iterator(Mail() / "buh")) fs::remove(entry.path());
    }
    WriteFile(otherLost / "buh/.quorvel-copy-9", "left by a killed move");
    scanner_.RemoveStaleCopies();
    for (const auto& entry : fs::directory_iterator(otherLost / "buh"))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}
}  // namespace
}  // namespace quorvel
