#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <future>
#include <set>

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

// "name=content" for each entry of `folder`, in byte order; links and other entries that are not
// regular files by name only.
std::string Contents(const fs::path& folder) {
    std::set<std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder))
        entries.insert(entry.path().filename().string() +
                       (fs::is_regular_file(entry.symlink_status()) ? "=" + ReadFile(entry) : ""));
    std::string text;
    for (const auto& entry : entries) text += (text.empty() ? "" : " ") + entry;
    return text;
}
// The attachments of a received message in the same form.
std::string Received(const testing::ReceivedMessage& message) {
    std::string text;
    for (const auto& a : message.Attachments)
        text += (text.empty() ? "" : " ") + a.FileName + "=" + a.Data;
    return text;
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

const std::string kFailed = "Не удалось отправить файлы на адрес: ";
const std::string kDenied = "(Error  67: Login denied (535 5.7.8)";
const std::string kStay = ", the files stay in the mail folder)";
const std::string kDeferred = "Отправка отложена до ";

// Counts the files named in `Locked` as held by another process, and every file as written from
// where it cannot be seen while `unseen`.
class ScriptedLockTest final : public LockTest {
public:
    Verdict Check(const std::filesystem::path& path) const override {
        return Locked.count(path.filename().string()) > 0 ? Verdict::Locked
               : unseen                                   ? Verdict::Unseen
                                                          : Verdict::Free;
    }
    std::set<std::string> Locked;
    bool unseen = false;
};

// A service folder with options.ini pointing at mail/ and lost/ under it and at a test SMTP server,
// and a Scanner over it on a clock the test moves.
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
    }
    void WriteSettings(const std::string& password = "secret") {
        WriteSettings(Mail(), Lost(), password);
    }
    // One scan cycle of `scanner` (scanner_ when null) on options.ini, as the service runs it:
    // its text for mail.log; its weight in the journal goes to weight_.
    std::string Cycle(Scanner* scanner = nullptr) {
        Scanner& s = scanner ? *scanner : scanner_;
        s.Ini().FileName(app_ / "options.ini");
        const CycleReport report = ReportOf(s.ProcessMail());
        weight_ = report.Weight;
        return report.Text;
    }
    // One cycle against `server`, which holds its reply while `during` runs.
    std::string CycleHeldBy(const SmtpServer& server, const std::function<void()>& during) {
        WriteSettings(Mail(), Lost(), "secret", &server, "RetryFor=600\r\n");  // a change is no try
        auto cycle = std::async(std::launch::async, [this] { return Cycle(); });
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
    MailLog log_{app_.Path(), clock_};
    ScriptedLockTest lockTest_;
    Scanner scanner_{app_.Path(), log_, lockTest_, clock_};
    JournalWeight weight_ = JournalWeight::None;
};

// Only the batch is deleted: a file dropped while the server holds its reply stays for the next
// cycle, and another service on the same folders skips the folder being sent. An empty or a
// read-only file goes like any other.
TEST_F(ScanCycleTest, ASentBatchIsDeletedAndAFileDroppedDuringItsSendWaits) {
    WriteFile(Mail() / "buh/empty.txt", "");
    WriteFile(Mail() / "buh/report.pdf", "pdf");
    fs::permissions(Mail() / "buh/report.pdf", fs::perms::owner_read);
    const auto descriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = descriptors();
    SmtpServer holding(SmtpServer::Fault::HoldAtData);
    EXPECT_EQ(CycleHeldBy(holding,
                          [&] {
                              WriteFile(Mail() / "buh/late.txt", "late");
                              WriteSettings();
                              Scanner second{app_.Path(), log_, lockTest_, clock_};
                              EXPECT_EQ(Cycle(&second), "") << "the folder being sent is skipped";
                          }),
              "ok");
    EXPECT_EQ(Received(holding.WaitForMessages(1).at(0)), "empty.txt= report.pdf=pdf");
    EXPECT_EQ(Contents(Mail() / "buh"), "late.txt=late");
    EXPECT_EQ(LogTexts(), (Names{"Найден непустой каталог: buh",
                                 "Найдены файлы к отправке: [empty.txt] [report.pdf] ",
                                 "Отправка почты на: buh", "Найден непустой каталог: buh"}));
    WriteSettings();
    EXPECT_EQ(Cycle(), "ok");
    EXPECT_EQ(Received(server_.WaitForMessages(1).at(0)), "late.txt=late");
    EXPECT_EQ(Contents(Mail() / "buh"), "");
    EXPECT_EQ(Cycle(), "");
    EXPECT_EQ(LogTexts().size(), 7u) << "a cycle with nothing to do logs nothing";
    EXPECT_EQ(descriptors(), before) << "nothing of the mail folder is held between cycles";
}
// A locked file holds back its folder, and no folder holds back the others: each cycle starts after
// the folder tried last. Every message has its own Message-ID, also within one second.
TEST_F(ScanCycleTest, EachCycleStartsAfterTheFolderTriedLast) {
    WriteSettings();
    WriteFile(Mail() / "b@example.com/x.txt", "b");
    WriteFile(Mail() / "a@example.com/y.txt", "a");
    WriteFile(Mail() / "a@example.com/l\r\n01.01.2026 00:00:00 - forged", "a");
    lockTest_.Locked = {"l\r\n01.01.2026 00:00:00 - forged"};
    EXPECT_EQ(Cycle(), "");
    EXPECT_EQ(LogTexts().back(),
              "Файл l__01.01.2026 00:00:00 - forged заблокирован и не может быть отправлен");
    EXPECT_EQ(Cycle(), "ok") << "the locked first folder does not stop the second";
    lockTest_.Locked.clear();
    EXPECT_EQ(Cycle(), "ok");
    WriteFile(Mail() / "b@example.com/x.txt", "b");
    for (int cycle = 0; cycle < 2; ++cycle) {  // a first folder refilled after every cycle
        WriteFile(Mail() / "a@example.com/y.txt", "a");
        EXPECT_EQ(Cycle(), "ok");
    }
    std::string to;
    std::set<std::string> ids;
    for (const auto& message : server_.WaitForMessages(4)) {
        to += message.Header("To").substr(0, 1);
        ids.insert(message.Header("Message-ID"));
    }
    EXPECT_EQ(to, "baba");
    EXPECT_EQ(ids.size(), 4u);
}
// A batch is the visible regular files directly in one folder, in byte order; hidden files and
// folders, links, FIFOs, deeper folders and files in the mail folder itself are never mailed.
TEST_F(ScanCycleTest, VisibleRegularFilesDirectlyInAFolderMakeABatchInByteOrder) {
    WriteSettings();
    fs::create_directories(Mail() / "X");
    for (const char* file : {"b2", "я.txt", "b10", "B1", ".hidden"})
        WriteFile(Mail() / "buh" / file, file);
    WriteFile(Mail() / "buh/deeper/file.txt", "deeper folders are ignored");
    WriteFile(app_ / "outside/shadow", "never to be mailed");
    fs::create_symlink(app_ / "outside/shadow", Mail() / "buh/link");
    ASSERT_EQ(::mkfifo((Mail() / "buh/fifo").c_str(), 0644), 0);
    WriteFile(Mail() / "a-plain.txt", "a plain file in the mail folder is never chosen");
    WriteFile(Mail() / ".hidden/secret.txt", "a hidden folder is never seen");
    fs::create_directory_symlink(app_ / "outside", Mail() / "linked-folder");
    EXPECT_EQ(Cycle(), "ok");
    EXPECT_EQ(Cycle(), "") << "nothing else is mailed";
    EXPECT_EQ(Received(server_.WaitForMessages(1).at(0)), "B1=B1 b10=b10 b2=b2 я.txt=я.txt");
    EXPECT_EQ(Contents(Mail() / "buh"), ".hidden=.hidden deeper fifo link");
}
// A failed batch goes to the lost folder, no more open than the folder it mirrors; a name already
// there is never replaced. An unwritable mail.log stops no mail.
TEST_F(ScanCycleTest, FailedBatchesGoToTheLostFolderAndNeverReplaceEachOther) {
    WriteSettings("wrong");
    fs::create_directory(log_.Path());
    fs::create_directories(Mail() / "buh");
    fs::permissions(Mail() / "buh", fs::perms(0750));
    for (const char* content : {"first", "second"}) {
        WriteFile(Mail() / "buh/report.pdf", content);
        WriteFile(Mail() / "buh/notes.txt", content);
        EXPECT_EQ(Cycle(), kFailed + "buh" + kDenied + ")");
    }
    EXPECT_EQ(Contents(Mail() / "buh"), "");
    EXPECT_EQ(Contents(Lost() / "buh"),
              "notes (1).txt=second notes.txt=first report (1).pdf=second report.pdf=first");
    EXPECT_EQ(fs::status(Lost()).permissions(), fs::perms(0700));
    EXPECT_EQ(fs::status(Lost() / "buh").permissions(), fs::perms(0750));
    EXPECT_TRUE(server_.Messages().empty());
}
// The lost folder's rules: relative folders, a closing "/" or "\", no overlap with the mail folder,
// nothing through a link.
TEST_F(ScanCycleTest, TheLostFolderIsUsedOnlyWhereItIsSafe) {
    testing::TempDir outside;
    const std::string mail = Mail(), lost = Lost(),
                      overlap =
                          "; Каталог неотправленной почты не может совпадать "
                          "с каталогом почты или лежать с ним один в другом: [Main] "
                          "MailFolder = \"" +
                          mail + "\", [Main] LostFolder = \"";
    const struct {
        std::string folder, mail, lost, result;
    } cases[] = {
        {"x@example.com", "mail/", "lost\\", kFailed + "x@example.com" + kDenied + ")"},
        {"buh", mail + "\\", "mail/buh",
         kFailed + "buh" + kDenied + overlap + mail + "/buh\"" + kStay},
        {"buh", mail + "/", lost + "/",
         kFailed + "buh" + kDenied + "; " + lost + "/buh is not a real folder" + kStay},
        {"buh\r\nforged", mail, lost + "\\",
         kFailed + "buh__forged(Error  22: invalid e-mail address \"buh__forged\"; " + lost +
             "/buh__forged is not a real folder" + kStay},
        {"buh", mail, "", kFailed + "buh" + kDenied + "; LostFolder is empty)"},
    };
    fs::create_directories(Lost());
    fs::create_directory_symlink(outside.Path(), Lost() / "buh");
    WriteFile(Lost() / "buh\r\nforged", "a file where the folder would be");
    for (const auto& c : cases) {
        WriteFile(Mail() / c.folder / "a.txt", "a");
        WriteSettings(c.mail, c.lost, "wrong");
        EXPECT_EQ(Cycle(), c.result);
        EXPECT_EQ(fs::exists(Lost() / c.folder / "a.txt"), c.folder == "x@example.com");
        EXPECT_EQ(Contents(Mail() / c.folder), c.folder == "x@example.com" ? "" : "a.txt=a");
        fs::remove_all(Mail() / c.folder);
    }
    EXPECT_TRUE(fs::is_empty(outside.Path())) << "nothing is written through a link";
}
// The named folders are pinned at the settings check: a mail or lost folder swapped for a link
// since is never used. The cycle says so once and sends nothing until the folder is back.
TEST_F(ScanCycleTest, AMailOrLostFolderSwappedSinceTheSettingsCheckIsNeverUsed) {
    testing::TempDir outside;
    WriteFile(outside / "buh/secret.txt", "secret");
    WriteSettings("wrong");
    fs::create_directories(Lost()), fs::create_directories(Mail());
    scanner_.Ini().FileName(app_ / "options.ini");
    scanner_.PinFolders();
    for (const auto& [key, folder] :
         {std::pair{"MailFolder", Mail()}, std::pair{"LostFolder", Lost()}}) {
        WriteFile(Mail() / "buh/a.txt", "a");
        fs::rename(folder, app_ / "away");
        fs::create_directory_symlink(outside.Path(), folder);
        const std::string said = Cycle();
        EXPECT_EQ(said.rfind("[Main] " + std::string(key) + " " + folder.string() +
                                 " is not the folder it was when the settings were checked",
                             0),
                  0u)
            << said;
        EXPECT_EQ(Cycle(), "") << "said once";
        fs::remove(folder);
        fs::rename(app_ / "away", folder);
        EXPECT_EQ(Cycle(), kFailed + "buh" + kDenied + ")");
    }
    EXPECT_EQ(Contents(outside / "buh"), "secret.txt=secret");
    EXPECT_EQ(Contents(Lost() / "buh"), "a (1).txt=a a.txt=a");
    EXPECT_EQ(server_.Commands(), "EHLO\nAUTH\nEHLO\nAUTH\n") << "two tries in all";
}
// A cycle reads options.ini once and works through the folders it opened: a LostFolder saved, or
// the recipient folder swapped for a link, during the send moves nothing elsewhere.
TEST_F(ScanCycleTest, ACycleKeepsTheSettingsAndTheFolderItStartedWith) {
    testing::TempDir outside;
    WriteFile(Mail() / "buh/a.txt", "inside");
    SmtpServer refusing(SmtpServer::Fault::HoldAtRecipients, {"buh@example.com"});
    EXPECT_EQ(CycleHeldBy(refusing,
                          [&] {
                              WriteSettings(Mail(), app_ / "other", "secret", &refusing);
                              fs::rename(Mail() / "buh", Mail() / ".away");
                              fs::create_directory_symlink(outside.Path(), Mail() / "buh");
                          }),
              kFailed + "buh(Error  55: RCPT failed: 550 5.1.1 Recipient address rejected)");
    EXPECT_EQ(Contents(Lost() / "buh"), "a.txt=inside");
    EXPECT_FALSE(fs::exists(app_ / "other"));
    EXPECT_TRUE(fs::is_empty(outside.Path()) && fs::is_empty(Mail() / ".away"));
}
// A file changed after it was streamed, or opened for writing since its listing, is not deleted;
// one that changed only its mode and times, its content still what was sent, is. One gone or
// replaced before it is read stops the send and the batch stays, with no retry time counted. The
// next cycle sends what is there then.
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
    const struct {
        const SmtpServer& server;
        std::function<void()> change;
        std::string result, left;
    } cases[] = {
        {atData, replace, changed, "b.txt=new"},
        {atData, [&] { WriteFile(b, "B.TXT"); }, changed, "b.txt=B.TXT"},
        {atData,
         [&] {
             fs::permissions(b, fs::perms::owner_read),
                 fs::last_write_time(b, fs::file_time_type());
         },
         "ok", ""},
        {atData,
         [&] {
             const auto start = std::chrono::steady_clock::now();
             FileDescriptor(::open(b.c_str(), O_WRONLY));
             EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(10))
                 << "the lease is given up at once, not after the break time";
         },
         "ok; not deleted: [b.txt] opened for writing during its send, to be sent again",
         "b.txt=b.txt"},
        {atRecipients, [&] { fs::remove(b); }, stopped + "is gone since it was listed" + stay,
         "a.txt=a.txt c.txt=c.txt"},
        {atRecipients, replace, stopped + "was replaced or changed since it was listed" + stay,
         "a.txt=a.txt b.txt=new c.txt=c.txt"},
    };
    std::size_t sent = 0;  // messages from the cycles after the held ones
    for (const auto& c : cases) {
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteFile(Mail() / "buh" / name, name);
        EXPECT_EQ(CycleHeldBy(c.server, c.change), c.result);
        EXPECT_EQ(Contents(Mail() / "buh"), c.left);
        if (c.left.empty()) continue;
        WriteSettings();
        EXPECT_EQ(Cycle(), "ok") << c.result;
        EXPECT_EQ(Received(server_.WaitForMessages(++sent).back()), c.left);
        EXPECT_EQ(Contents(Mail() / "buh"), "");
    }
    EXPECT_TRUE(atRecipients.Messages().empty());
    EXPECT_FALSE(fs::exists(Lost()));
}
TEST_F(ScanCycleTest, ASentFileThatCannotBeDeletedIsMailedOnce) {
    WriteSettings();
    WriteFile(Mail() / "buh/a.txt", "a"), WriteFile(Mail() / "buh/b.txt", "b");
    if (!SetImmutable(Mail() / "buh/a.txt", true))
        GTEST_SKIP() << "cannot make a file immutable here";
    EXPECT_EQ(Cycle(),
              "ok; sent but cannot be deleted, not sent again while unchanged: [a.txt] Operation "
              "not permitted");
    EXPECT_EQ(weight_, JournalWeight::Error) << "a file stays that should have gone";
    EXPECT_EQ(Cycle(), "");
    WriteFile(app_ / "undeletable.state", "damaged\tline\n" + ReadFile(app_ / "undeletable.state"));
    Scanner restarted{app_.Path(), log_, lockTest_, clock_};
    EXPECT_EQ(Cycle(&restarted), "") << "remembered across a restart, past a damaged line";
    ASSERT_TRUE(SetImmutable(Mail() / "buh/a.txt", false));
    WriteFile(Mail() / "buh/a.txt", "changed");
    EXPECT_EQ(Cycle(), "ok");
    EXPECT_EQ(Received(server_.WaitForMessages(2).at(1)), "a.txt=changed");
}
// Across file systems a move copies (mode kept, never set-user-ID), flushes, and only then removes
// the source; no temporary copy is left, whether its own or one a killed move left behind.
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
    EXPECT_EQ(Cycle(), kFailed + "buh" + kDenied + ")");
    EXPECT_EQ(ReadFile(lost / "buh" / name250), std::string(3 << 20, 'a'));
    EXPECT_EQ(ReadFile(lost / "buh" / name255), "old");
    EXPECT_EQ(ReadFile(lost / "buh" / NumberedName(name255, 1)), "new");
    EXPECT_EQ(fs::status(lost / "buh" / NumberedName(name255, 1)).permissions(),
              fs::perms::owner_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(lost / "buh"), {}), 3) << "no copy left";
    EXPECT_EQ(Contents(Mail() / "buh"), "");
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
        const std::string result = Cycle();
        EXPECT_EQ(result.empty(), after == 29) << result;
        EXPECT_TRUE(after == 29 ||
                    result.ends_with("No space left on device; no room in the lost folder, "
                                     "tried again at " +
                                     LocalTimestamp(clock_.now + seconds(30)).substr(11) + ")"))
            << result;
    }
    EXPECT_EQ(ReadFile(Mail() / "buh/big.bin").size(), 2u << 20);
}
// Where writers can be out of sight, a file goes out once its size and modification time have kept
// still for the quiet period, 5 s by default.
TEST_F(ScanCycleTest, AFileWhoseWritersCannotBeSeenGoesOutOnceQuiet) {
    WriteSettings();
    lockTest_.unseen = true;
    WriteFile(Mail() / "buh/a.txt", "a");
    EXPECT_EQ(Cycle(), "");
    clock_.now += seconds(4);
    std::ofstream(Mail() / "buh/a.txt", std::ios::app) << "b";  // the remote writer goes on
    EXPECT_EQ(Cycle(), "");
    clock_.now += seconds(4);
    EXPECT_EQ(Cycle(), "") << "its quiet period started again";
    clock_.now += seconds(1);
    EXPECT_EQ(Cycle(), "ok");
    EXPECT_EQ(Received(server_.WaitForMessages(1).at(0)), "a.txt=ab");
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
        kFailed + "buh(Error  55: RCPT failed: 451 4.2.1 Mailbox busy, try again later)";
    const auto t0 = clock_.now;
    for (int after : {0, 3, 6}) {
        clock_.now = t0 + seconds(after);
        EXPECT_EQ(Cycle(),
                  kDeferred + LocalTimestamp(t0 + seconds(after + 3)).substr(11) + ": " + failure);
        EXPECT_EQ(weight_, JournalWeight::Information) << "nothing is lost yet";
        WriteFile(Mail() / "x@example.com/b.txt", "b");
        clock_.now += seconds(2);
        EXPECT_EQ(Cycle(), "ok") << "the waiting folder holds back no other";
        EXPECT_EQ(weight_, JournalWeight::None);
        EXPECT_EQ(Cycle(), "") << "and waits";
    }
    clock_.now = t0 + seconds(9);
    EXPECT_EQ(Cycle(), failure);
    EXPECT_EQ(weight_, JournalWeight::Error);
    EXPECT_EQ(Contents(Lost() / "buh"), "a.txt=a");
    using enum SmtpServer::Fault;
    const struct {
        SmtpServer::Fault fault;
        std::string password, retry;
    } lasting[] = {{RefuseRecipients, "secret", retry},
                   {None, "wrong", retry},
                   {DeferRecipients, "secret", ""}};
    for (const auto& c : lasting) {
        SmtpServer server(c.fault, {"buh@example.com"});
        WriteSettings(Mail(), Lost(), c.password, &server, c.retry);
        WriteFile(Mail() / "buh/c.txt", "c");
        EXPECT_EQ(Cycle().rfind(kFailed, 0), 0u);
        EXPECT_EQ(Contents(Lost() / "buh"), "a.txt=a c.txt=c");
        fs::remove(Lost() / "buh/c.txt");
    }
}
// Auth=oauth2: a token is reused until shortly before it expires and fetched once more when the
// server refuses it; a rotated refresh token is used from then on, also after a restart; a refused
// grant sends the batch to the lost folder at once, an endpoint answering 503 keeps it for a retry.
// Secrets come from options.ini, a file or a credential; none, nor a token, is ever shown.
TEST_F(ScanCycleTest, OAuthTokensAreReusedRenewedAndRotatedAndNeverShown) {
    SmtpServer server(SmtpServer::Fault::None, {}, "none", 0, "both");
    WriteFile(app_ / "client.txt", "client-secret\nignored\n");
    WriteFile(app_ / "creds/refresh", "refresh-secret-1");
    ::setenv("CREDENTIALS_DIRECTORY", (app_ / "creds").c_str(), 1);
    const auto configure = [&](const std::string& grant) {
        WriteSettings(Mail(), Lost(), "", &server,
                      "Auth=OAuth2\r\nTokenUrl=" + server.TokenUrl() +
                          "\r\nCAFile=" + server.CAFile().string() +
                          "\r\nClientId=quorvel-client\r\nRetryFor=600\r\n" + grant);
    };
    std::string shown;
    const auto cycle = [&](Scanner* scanner, int after) {
        clock_.now += seconds(after);
        WriteFile(Mail() / "buh/a.txt", "a");
        const std::string result = Cycle(scanner);
        shown += result;
        return result;
    };
    configure("ClientSecret=client-secret\r\nScope=https://mail.example.com/.default\r\n");
    for (int after : {0, 3000, 541}) EXPECT_EQ(cycle(nullptr, after), "ok") << after;
    server.RevokeTokens();
    EXPECT_EQ(cycle(nullptr, 0), "ok") << "a refused token is fetched again";
    const std::string grant =
        "client_id=quorvel-client client_secret=client-secret "
        "grant_type=client_credentials "
        "scope=https://mail.example.com/.default\n";
    EXPECT_EQ(server.TokenRequests(), grant + grant + grant) << "at 0, at 3541 and when refused";
    server.SetTokenMode("rotate");
    configure("ClientSecretFile=client.txt\r\nRefreshTokenFile=credential:refresh\r\n");
    EXPECT_EQ(cycle(nullptr, 0), "ok");
    EXPECT_EQ(fs::status(app_ / "oauth-refresh-token").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    Scanner restarted{app_.Path(), log_, lockTest_, clock_};
    EXPECT_EQ(cycle(&restarted, 0), "ok") << "the endpoint takes only the rotated refresh token";
    server.SetTokenMode("invalid_grant");
    EXPECT_EQ(cycle(&restarted, 3600),
              kFailed +
                  "buh(Error  67: the token endpoint answered 400 to the refresh_token "
                  "grant: invalid_grant: Token has been expired or revoked.)");
    EXPECT_EQ(Contents(Lost() / "buh"), "a.txt=a");
    server.SetTokenMode("503");
    EXPECT_EQ(cycle(&restarted, 60).rfind(kDeferred, 0), 0u);
    ::unsetenv("CREDENTIALS_DIRECTORY");
    for (const std::string secret : {"client-secret", "refresh-secret", "access-token"})
        EXPECT_EQ((shown + ReadFile(log_.Path())).find(secret), std::string::npos) << secret;
}

}  // namespace
}  // namespace quorvel
