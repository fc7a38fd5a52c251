#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "base/Error.h"
#include "base/FileDescriptor.h"
#include "mail/FileMover.h"
#include "mail/Scanner.h"
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

// True while this process holds a descriptor of `folder` or of anything in it.
bool HoldsDescriptorIn(const fs::path& folder) {
    std::error_code ignored;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        if (fs::read_symlink(fd, ignored).string().starts_with(folder.string())) return true;
    }
    return false;
}

const std::string kFailed = "Не удалось отправить файлы на адрес: ";
const std::string kDenied = "(Error  67: Login denied (535 5.7.8 Authentication credentials invalid)";
const std::string kStay = ", the files stay in the mail folder)";

// Counts the files named in `Locked` as held by another process and remembers every path asked about.
class ScriptedLockTest final : public LockTest {
public:
    bool IsLocked(const std::filesystem::path& path) const override {
        asked.push_back(path.filename().string());
        return Locked.count(path.filename().string()) > 0;
    }
    std::set<std::string> Locked;
    mutable Names asked;
};

// A service folder with options.ini pointing at mail/ and lost/ under it and at a test SMTP server,
// and a Scanner over it on a clock the test moves. What mail.log's watcher hears is kept in `watched`.
class ScanCycleTest : public ::testing::Test {
protected:
    // options.ini for `server` (server_ when null) with the [SMTP] lines of `more`; "buh" is buh@example.com.
    void WriteSettings(const std::string& mail, const std::string& lost, const std::string& password = "secret",
                       const SmtpServer* server = nullptr, const std::string& more = "") {
        WriteFile(app_ / "options.ini", "[Main]\r\nMailFolder=" + mail + "\r\nLostFolder=" + lost +
                  "\r\nMail=sender@example.com\r\n" + (server ? *server : server_).SmtpSection(5, password) + more +
                  "[alias]\r\nbuh=buh@example.com\r\n");
        scanner_.Ini().FileName(app_ / "options.ini");
    }
    void WriteSettings(const std::string& password = "secret") { WriteSettings(Mail(), Lost(), password); }

    // One cycle against `server`, which holds its reply while `during` runs.
    std::string CycleHeldBy(const SmtpServer& server, const std::function<void()>& during) {
        WriteSettings(Mail(), Lost(), "secret", &server);
        auto cycle = std::async(std::launch::async, [this] { return scanner_.ProcessMail(); });
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
    MailLog log_{app_.Path(), clock_, [this](bool, const std::string& text) { watched.push_back(text); }};
    ScriptedLockTest lockTest_;
    Scanner scanner_{app_.Path(), log_, lockTest_, clock_};
};

// Only the batch is deleted: a file dropped while the server holds its reply stays for the next cycle.
// The cycle shows that it is sending; after it, no descriptor of the mail folder is left open.
TEST_F(ScanCycleTest, ASentBatchIsDeletedAndItsFolderKept) {
    WriteFile(Mail() / "buh/report.pdf", "pdf");
    WriteFile(Mail() / "buh/report.xml", "xml");
    fs::permissions(Mail() / "buh/report.xml", fs::perms::owner_read);
    SmtpServer holding(SmtpServer::Fault::HoldAtData);
    EXPECT_EQ(CycleHeldBy(holding, [&] {
        WriteFile(Mail() / "buh/late.txt", "late");
        EXPECT_EQ(scanner_.Progress().Phase(), CyclePhase::Sending);
        EXPECT_TRUE(HoldsDescriptorIn(Mail()));
    }), "ok");
    EXPECT_EQ(scanner_.Progress().Phase(), CyclePhase::Idle);
    EXPECT_FALSE(HoldsDescriptorIn(Mail()));
    const auto message = holding.WaitForMessages(1).at(0);
    EXPECT_EQ(message.Header("To") + message.Attachments.at(1).Data, "buh@example.comxml");
    EXPECT_EQ(NamesIn(Mail() / "buh"), Names{"late.txt"});
    EXPECT_EQ(LogTexts(), (Names{"Найден непустой каталог: buh", "Найдены файлы к отправке: [report.pdf] [report.xml] ",
                                 "Отправка почты на: buh"}));
    fs::remove(Mail() / "buh/late.txt");
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
    WriteFile(Mail() / "b@example.com/x.txt", "b");
    for (int cycle = 0; cycle < 2; ++cycle) {  // a first folder refilled after every cycle
        WriteFile(Mail() / "a@example.com/y.txt", "a");
        EXPECT_EQ(scanner_.ProcessMail(), "ok");
    }
    Names to;
    for (const auto& message : server_.WaitForMessages(4)) to.push_back(message.Header("To").substr(0, 1));
    EXPECT_EQ(to, (Names{"b", "a", "b", "a"}));
}
// An unwritable mail.log stops no mail and is reported once.
TEST_F(ScanCycleTest, FailedBatchesGoToTheLostFolderAndNeverReplaceEachOther) {
    WriteSettings("wrong");
    fs::create_directory(log_.Path());
    for (const char* content : {"first", "second"}) {
        WriteFile(Mail() / "buh/report.pdf", content);
        WriteFile(Mail() / "buh/notes.txt", content);
        EXPECT_EQ(scanner_.ProcessMail(), kFailed + "buh" + kDenied + ")");
    }
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
    EXPECT_EQ(NamesIn(Lost() / "buh"), (Names{"notes (1).txt", "notes.txt", "report (1).pdf", "report.pdf"}));
    EXPECT_EQ(ReadFile(Lost() / "buh/report (1).pdf"), "second");
    EXPECT_TRUE(server_.Messages().empty());
    EXPECT_EQ(watched.size(), 1u);
}
// The lost folder's rules: relative folders, a closing "/" or "\", overlap, nothing through a link.
TEST_F(ScanCycleTest, TheLostFolderIsUsedOnlyWhereItIsSafe) {
    testing::TempDir outside;
    const std::string mail = Mail(), lost = Lost(), overlap = "; Каталог неотправленной почты не может совпадать "
        "с каталогом почты или лежать с ним один в другом: [Main] MailFolder = \"" + mail + "\", [Main] LostFolder = \"";
    const struct { std::string folder, mail, lost, result; } cases[] = {
        {"x@example.com", "mail/", "lost\\", kFailed + "x@example.com" + kDenied + ")"},
        {"buh", mail, mail + "/", kFailed + "buh" + kDenied + overlap + mail + "\"" + kStay},
        {"buh", mail + "\\", "mail/buh", kFailed + "buh" + kDenied + overlap + mail + "/buh\"" + kStay},
        {"buh", mail + "/", lost + "/", kFailed + "buh" + kDenied + "; " + lost + "/buh is not a real folder" + kStay},
        {"buh\r\nforged", mail, lost + "\\", kFailed + "buh__forged(Error  22: invalid e-mail address \"buh__forged\"; " +
                                                 lost + "/buh__forged is not a real folder" + kStay},
        {"buh", mail, "", kFailed + "buh" + kDenied + "; LostFolder is empty)"},
        {"buh", mail, app_.Path().string() + "/no/lost/", kFailed + "buh" + kDenied + "; cannot create " + app_.Path().string() +
                              "/no/lost: No such file or directory" + kStay},
    };
    fs::create_directories(Lost());
    fs::create_directory_symlink(outside.Path(), Lost() / "buh");
    WriteFile(Lost() / "buh\r\nforged", "a file where the folder would be");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lost);
        WriteFile(Mail() / c.folder / "a.txt", "a");
        WriteSettings(c.mail, c.lost, "wrong");
        EXPECT_EQ(scanner_.ProcessMail(), c.result);
        EXPECT_EQ(fs::exists(Lost() / c.folder / "a.txt"), c.folder == "x@example.com");
        fs::remove_all(Mail() / c.folder);
    }
    EXPECT_TRUE(fs::is_empty(outside.Path())) << "nothing is written through a link";
}
TEST_F(ScanCycleTest, AFolderSwappedForALinkDuringTheSendIsNeverFollowed) {
    testing::TempDir outside;
    WriteFile(outside / "a.txt", "outside");
    WriteFile(Mail() / "buh/a.txt", "inside");
    SmtpServer holding(SmtpServer::Fault::HoldAtRecipients);
    EXPECT_EQ(CycleHeldBy(holding, [&] { fs::rename(Mail() / "buh", Mail() / ".away");
                                         fs::create_directory_symlink(outside.Path(), Mail() / "buh"); }), "ok");
    EXPECT_EQ(holding.WaitForMessages(1).at(0).Attachments.at(0).Data, "inside");
    EXPECT_EQ(ReadFile(outside / "a.txt"), "outside");
    EXPECT_TRUE(fs::is_empty(Mail() / ".away"));
}
// A file changed after it was streamed is not deleted; one gone, swapped for a FIFO or replaced
// before it is read stops the send and the batch stays. The next cycle sends what is there then.
TEST_F(ScanCycleTest, AFileChangedDuringTheSendStaysAndGoesOutWithItsNewContent) {
    SmtpServer atData(SmtpServer::Fault::HoldAtData), atRecipients(SmtpServer::Fault::HoldAtRecipients);
    const fs::path b = Mail() / "buh/b.txt";
    const std::string changed = "ok; not deleted: [b.txt] changed during its send, to be sent again",
                      stopped = kFailed + "buh(Error  26: [b.txt] ", stay = "; the files stay in the mail folder to be sent again)";
    const auto replace = [&] { WriteFile(Mail() / "b.new", "new"), fs::rename(Mail() / "b.new", b); };
    const Names all = {"a.txt", "b.txt", "c.txt"};
    const struct { const SmtpServer& server; std::function<void()> change; std::string result; Names left; } cases[] = {
        {atData, replace, changed, {"b.txt"}}, {atData, [&] { WriteFile(b, "NEW"); }, changed, {"b.txt"}},
        {atData, [&] { std::ofstream(b, std::ios::app) << "+more"; }, changed, {"b.txt"}},
        {atRecipients, [&] { fs::remove(b); }, stopped + "is gone since it was listed" + stay, {"a.txt", "c.txt"}},
        {atRecipients, [&] { fs::remove(b), ::mkfifo(b.c_str(), 0644); }, stopped + "is no longer a regular file" + stay, all},
        {atRecipients, replace, stopped + "was replaced or changed since it was listed" + stay, all},
    };
    for (const auto& c : cases) {
        const std::size_t sent = &c - cases + 1;  // one message a case, from the cycle after the held one
        for (const auto& name : all) WriteFile(Mail() / "buh" / name, name);
        EXPECT_EQ(CycleHeldBy(c.server, c.change), c.result);
        EXPECT_EQ(NamesIn(Mail() / "buh"), c.left);
        EXPECT_FALSE(fs::exists(Lost()));
        std::map<std::string, std::string> now, received;
        for (const auto& f : fs::directory_iterator(Mail() / "buh")) if (f.is_regular_file()) now[f.path().filename()] = ReadFile(f.path());
        WriteSettings();
        EXPECT_EQ(scanner_.ProcessMail(), "ok");
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
    if (!SetImmutable(Mail() / "buh/a.txt", true)) GTEST_SKIP() << "cannot make a file immutable here";
    EXPECT_EQ(scanner_.ProcessMail(),
              "ok; sent but cannot be deleted, not sent again while unchanged: [a.txt] Operation not permitted");
    EXPECT_EQ(scanner_.ProcessMail(), "");
    WriteSettings("wrong");
    WriteFile(Mail() / "buh/c.txt", "c");
    ASSERT_TRUE(SetImmutable(Mail() / "buh/a.txt", false) && SetImmutable(Mail() / "buh/a.txt", true));  // changed
    const std::string failed = scanner_.ProcessMail();
    SetImmutable(Mail() / "buh/a.txt", false);
    EXPECT_EQ(failed.rfind(kFailed + "buh" + kDenied + "; not moved, still in the mail folder: [a.txt] cannot move ", 0), 0u)
        << failed;
    EXPECT_EQ(NamesIn(Mail() / "buh"), Names{"a.txt"});
    EXPECT_EQ(NamesIn(Lost() / "buh"), Names{"c.txt"});
}
// Across file systems a move copies (mode kept), flushes, and only then removes the source.
TEST_F(ScanCycleTest, LongNamesReachALostFolderOnAnotherFileSystem) {
    if (testing::SameFileSystem(app_.Path(), "/dev/shm")) GTEST_SKIP() << "no second file system at /dev/shm";
    testing::TempDir otherFs("/dev/shm");
    const fs::path lost = otherFs / "lost";
    const std::string name250 = std::string(246, 'x') + ".txt", name255 = std::string(251, 'y') + ".txt";
    WriteSettings(Mail(), lost, "wrong");
    WriteFile(Mail() / "buh" / name250, std::string(3 << 20, 'a'));
    WriteFile(Mail() / "buh" / name255, "new");
    fs::permissions(Mail() / "buh" / name255, fs::perms::owner_read | fs::perms::set_uid);
    WriteFile(lost / "buh" / name255, "old");
    WriteFile(lost / "buh/.quorvel-copy-1", "left by a killed move");
    EXPECT_EQ(scanner_.ProcessMail(), kFailed + "buh" + kDenied + ")");
    EXPECT_EQ(ReadFile(lost / "buh" / name250), std::string(3 << 20, 'a'));
    EXPECT_EQ(ReadFile(lost / "buh" / NumberedName(name255, 1)), "new");
    EXPECT_EQ(fs::status(lost / "buh" / NumberedName(name255, 1)).permissions(), fs::perms::owner_read)
        << "the mode is kept, but a copy made by root is never set-user-ID";
    EXPECT_EQ(NamesIn(lost / "buh").size(), 3u) << "no temporary copy left, old or new";
    EXPECT_TRUE(fs::is_empty(Mail() / "buh"));
}
TEST_F(ScanCycleTest, VisibleRegularFilesDirectlyInAFolderMakeABatchInByteOrder) {
    scanner_.SetMailPath(Mail());
    fs::create_directories(Mail() / "X");
    for (const char* file : {"b2", "я.txt", "b10", "B1", ".hidden", "c", "d"}) WriteFile(Mail() / "y" / file, "f");
    WriteFile(Mail() / "y/deeper/file.txt", "deeper folders are ignored");
    WriteFile(app_ / "outside/shadow", "never to be mailed");
    fs::create_symlink(app_ / "outside/shadow", Mail() / "y/link");
    ASSERT_EQ(::mkfifo((Mail() / "y/fifo").c_str(), 0644), 0);
    WriteFile(Mail() / "z/only.txt", "z");
    WriteFile(Mail() / "a-plain.txt", "a plain file in the mail folder is a candidate, never chosen");
    WriteFile(Mail() / ".hidden/secret.txt", "a hidden folder is never seen");
    fs::create_directory_symlink(app_ / "outside", Mail() / "linked-folder");
    lockTest_.Locked = {"c"};
    EXPECT_EQ(scanner_.FindMailFolder(), "y");
    EXPECT_EQ(scanner_.Folders(), (Names{"X", "a-plain.txt", "y", "z"}));
    EXPECT_EQ(scanner_.Idx(), 2u);
    EXPECT_FALSE(scanner_.CollectFiles()) << "a locked file stops the batch";
    EXPECT_EQ(lockTest_.asked, (Names{"B1", "b10", "b2", "c"})) << "none tested after the locked one";
    lockTest_.Locked.clear();
    ASSERT_EQ(scanner_.FindMailFolder(), "z");
    EXPECT_EQ(scanner_.FindMailFolder(), "y") << "the search starts after the folder chosen last and wraps around";
    EXPECT_TRUE(scanner_.CollectFiles());
    EXPECT_EQ(scanner_.Files(), (Names{"B1", "b10", "b2", "c", "d", "я.txt"}));
    EXPECT_EQ(LogTexts(), (Names{"Файл c заблокирован и не может быть отправлен",
                                 "Найдены файлы к отправке: [B1] [b10] [b2] [c] [d] [я.txt] "}));
    ASSERT_EQ(scanner_.FindMailFolder(), "z");
    fs::remove_all(Mail() / "z");
    EXPECT_FALSE(scanner_.CollectFiles()) << "an emptied folder";
}
TEST_F(ScanCycleTest, BatchesHaveNoSixteenBitLimitAndListingErrorsNameThePathAndTheReason) {
    constexpr std::size_t kCount = 32768 + 2;
    scanner_.SetMailPath(Mail());
    fs::create_directories(Mail() / "many");
    for (std::size_t i = 0; i < kCount; ++i) ::close(::open((Mail() / "many" / std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0644));
    ASSERT_EQ(scanner_.FindMailFolder(), "many");
    EXPECT_TRUE(scanner_.CollectFiles());
    EXPECT_EQ(scanner_.FileCount(), kCount);
    scanner_.SetMailPath((app_ / "missing").string());
    std::string error = "a missing mail folder was listed";
    try { scanner_.FindMailFolder(); } catch (const Error& e) { error = e.what(); }
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
    const std::string failure = kFailed + "buh(Error  55: RCPT failed: 451 4.2.1 Mailbox busy, try again later";
    const auto t0 = clock_.now;
    for (int after : {0, 3, 6}) {
        clock_.now = t0 + seconds(after);
        EXPECT_EQ(scanner_.ProcessMail(),
                  "Отправка отложена до " + LocalTimestamp(t0 + seconds(after + 3)).substr(11) + ": " + failure + ")");
        WriteFile(Mail() / "x@example.com/b.txt", "b");
        clock_.now += seconds(2);
        EXPECT_EQ(scanner_.ProcessMail(), "ok") << "the waiting folder holds back no other";
        EXPECT_EQ(scanner_.ProcessMail(), "") << "and waits";
    }
    clock_.now = t0 + seconds(9);
    EXPECT_EQ(scanner_.ProcessMail(), failure + ")");
    EXPECT_TRUE(fs::exists(Lost() / "buh/a.txt"));
    EXPECT_TRUE(scanner_.Retries().Waiting().empty());
    using enum SmtpServer::Fault;  // lasting failures, or no RetryFor; then down, or 451 to the data, for two tries
    const struct { SmtpServer::Fault fault; std::string password, retry; int deferred; } cases[] = {
        {RefuseRecipients, "secret", retry, 0}, {None, "wrong", retry, 0}, {DeferRecipients, "secret", "", 0},
        {DownFirst, "secret", retry, 2}, {FailFirst, "secret", retry, 2}};
    for (const auto& c : cases) {
        SmtpServer server(c.fault, {"buh@example.com"});
        WriteSettings(Mail(), Lost(), c.password, &server, c.retry);
        WriteFile(Mail() / "buh/c.txt", "c");
        for (int tries = 0; tries < c.deferred; ++tries, clock_.now += seconds(3)) {
            EXPECT_EQ(scanner_.ProcessMail().rfind("Отправка отложена до ", 0), 0u);
        }
        EXPECT_EQ(scanner_.ProcessMail().rfind(c.deferred ? "ok" : kFailed, 0), 0u);
        EXPECT_EQ(fs::exists(Lost() / "buh/c.txt"), c.deferred == 0);
        fs::remove(Lost() / "buh/c.txt");
    }
}
// Killed at any instant, a cycle leaves every file of its batch in the mail folder, in the lost
// folder or delivered, never in none; what a killed move leaves behind goes when the service starts.
TEST_F(ScanCycleTest, NoFileIsLostWhereverTheCycleIsKilled) {
    std::optional<testing::TempDir> otherFs;
    if (!testing::SameFileSystem(app_.Path(), "/dev/shm")) otherFs.emplace("/dev/shm");
    const fs::path otherLost = otherFs ? otherFs->Path() / "lost" : Lost();
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    long span = 1000;  // microseconds; runs -2 and -1 are not killed and tell how long a cycle takes
    for (int run = -2; run < 40; ++run) {
        const fs::path lost = run < 0 || run % 4 == 3 ? otherLost : Lost();
        WriteSettings(Mail(), lost, run % 2 == 0 ? "secret" : "wrong");
        std::map<std::string, std::string> batch;
        for (int j = 0; j < 3; ++j) {
            const std::string name = "run" + std::to_string(run) + "-" + std::to_string(j) + ".bin";
            WriteFile(Mail() / "buh" / name, batch[name] = std::string(100000 + 1000 * j + run, 'a' + j));
        }
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) try { scanner_.ProcessMail(), ::_exit(0); } catch (...) { ::_exit(0); }
        if (run >= 0) std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<long>(0, span)(random))), ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        if (run < 0) span = std::max(span, took.count() * 6 / 5);
        std::set<std::string> found;  // name and content
        std::error_code ec;
        for (const auto& m : server_.Messages()) for (const auto& a : m.Attachments) found.insert(a.FileName + a.Data);
        for (const auto& folder : {Mail() / "buh", lost / "buh"})
            for (const auto& f : fs::directory_iterator(folder, ec)) found.insert(f.path().filename().string() + ReadFile(f.path()));
        for (const auto& [name, content] : batch) EXPECT_TRUE(found.count(name + content)) << name << " is nowhere; seed " << seed;
        for (const auto& entry : fs::directory_iterator(Mail() / "buh")) fs::remove(entry.path());
    }
    WriteFile(otherLost / "buh/.quorvel-copy-9", "left by a killed move");
    scanner_.RemoveStaleCopies();
    for (const auto& entry : fs::directory_iterator(otherLost / "buh")) EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}
}  // namespace
}  // namespace quorvel
