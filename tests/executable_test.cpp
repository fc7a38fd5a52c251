#include <gtest/gtest.h>

#include <regex>

#include "support/ServerProcess.h"
#include "support/SmtpServer.h"
#include "support/SshfsMount.h"
#include "support/TempDir.h"
#include "systemd/JournalLog.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ServerProcess;

const std::string kStarted = "<6>Запущен сервис автоматической отправки почты\n";

// A copy of the executable in a folder of its own, beside an options.ini that sends to the test
// server and whose mail folder is empty.
class ExecutableTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(QUORVEL_SERVER_EXE, exe);
        fs::create_directory(mail);
        testing::WriteFile(dir / "options.ini", options);
    }
    testing::TempDir dir;
    testing::SmtpServer smtp{testing::SmtpServer::Fault::None, {}, "none", 0, "xoauth2"};
    const fs::path exe = dir / "quorvel-server";
    const fs::path mail = dir / "mail";
    const std::string options = "[Main]\nMailFolder=" + mail.string() +
                                "\nMail=robot@example.com\nLostFolder=" + (dir / "lost").string() +
                                "\nTimer=1\n" + smtp.SmtpSection(5) +
                                "[alias]\nbuh=buh@example.com\n";
};

// With a start-up delay of 0 no settings check ever runs and systemd hears READY=1 at once; without
// a terminal an interrupt is a stop. Without a journal, entries go to standard error, and a reader
// that went away must not end the service with SIGPIPE: without options.ini it writes its entries
// into the broken pipe and stops with 78.
TEST_F(ExecutableTest, TheStartUpDelayDecidesReadinessAndABrokenPipeDoesNotEndTheService) {
    ServerProcess ready(exe, {}, {"TimerInterval=0"});
    ASSERT_TRUE(ready.WaitForError(kStarted));
    ready.Signal(SIGINT);
    EXPECT_EQ(ready.Wait(), 0);
    EXPECT_EQ(ready.Notifications(),
              "READY=1\nSTATUS=Работает; отправок ещё не было\nSTATUS=Остановка\n");
    EXPECT_FALSE(fs::exists(dir / "mail.log"));
    if (fs::exists(JournalLog::kJournalSocket)) GTEST_SKIP() << "entries go to the journal here";
    fs::remove(dir / "options.ini");
    const std::string script =
        "import os, subprocess, sys; r, w = os.pipe(); os.close(r); sys.exit(subprocess.call("
        "sys.argv[1], stderr=w, stdin=subprocess.DEVNULL, env={'TimerInterval': '10'}))";
    EXPECT_EQ(WEXITSTATUS(std::system(("python3 -c \"" + script + "\" " + exe.string()).c_str())),
              78)
        << "243 is the end by SIGPIPE";
}

// `/t` checks the settings (status 78, the setting named), then logs in to the server (0, or 69
// when it refuses), with Auth=oauth2 after getting a token; no secret or token ever shows, and
// nothing is sent. Any other argument is refused.
TEST_F(ExecutableTest, TheSettingsTestChecksEverySettingThenTheLoginAndOtherArgumentsAreRefused) {
    ServerProcess invalid(exe, {"/i", "extra"});
    EXPECT_EQ(invalid.Wait(), 2);
    EXPECT_EQ(invalid.Output(), "Invalid Parameter\n");
    const std::string oauth =
        "\nAuth=oauth2\nClientId=quorvel-client\nClientSecret=client-secret\nCAFile=" +
        smtp.CAFile().string() + "\nTokenUrl=" + smtp.TokenUrl();
    // A line of options.ini changed, the status, and a line the output must hold.
    const std::vector<std::tuple<std::string, std::string, int, std::string>> cases = {
        {"", "", 0,
         "QuorvelServer: настройки в порядке\nQuorvelServer: вход на SMTP-сервер 127.0.0.1:" +
             std::to_string(smtp.Port()) + " выполнен\n"},
        {"Password", "wrong-7301", 69,
         "QuorvelServer: вход на SMTP-сервер не выполнен: [67] Login denied (535 5.7.8)\n"},
        {"Password", "", 78, "QuorvelServer: Не задан пароль SMTP-сервера\n"},
        {"Password", oauth, 0,
         "QuorvelServer: access token received from " + smtp.TokenUrl() +
             " (client_credentials grant)\nQuorvelServer: вход на SMTP-сервер"},
        {"User", "nobody" + oauth, 69, "вход на SMTP-сервер не выполнен: [67] Login denied"},
        {"Port", "25a", 78, "QuorvelServer: [SMTP] Port is not a whole number from 1 to 65535: "},
        {"Mail", "robot", 78, "QuorvelServer: [Main] Mail: "},
        {"buh", "anna@example.com; boss", 78, "QuorvelServer: [alias] buh: "},
        {"MailFolder", mail.string() + "/nowhere", 78,
         "QuorvelServer: Не найден каталог почты " + mail.string() + "/nowhere\n"},
        {"LostFolder", (dir / "x/y").string(), 78,
         "QuorvelServer: Не удаётся создать каталог неотправленной почты " +
             (dir / "x/y").string()},
    };
    for (const auto& [key, value, status, output] : cases) {
        SCOPED_TRACE(key + "=" + value);
        std::string changed = options;
        if (std::size_t at = changed.find("\n" + key + "=") + key.size() + 2; !key.empty())
            changed.replace(at, changed.find_first_of("\r\n", at) - at, value);
        testing::WriteFile(dir / "options.ini", changed);
        ServerProcess server(exe, {"/t"});
        EXPECT_EQ(server.Wait(), status);
        EXPECT_NE(server.Output().find(output), std::string::npos) << server.Output();
        for (const std::string& secret :
             {smtp.Password(), std::string("wrong-7301"), std::string("client-secret"),
              std::string("access-token")})
            EXPECT_EQ(server.Output().find(secret), std::string::npos) << secret;
    }
    EXPECT_TRUE(smtp.Messages().empty());
    EXPECT_EQ(smtp.Logins(), "XOAUTH2 ok\nXOAUTH2 refused\n");
}

// The running service: options.ini holding a password that anyone may read is warned of at each
// settings check; dropped batches are sent or moved to the lost folder, and a second service with
// the same options.ini refuses to start while `/t` still runs. SIGUSR2 changes nothing, SIGUSR1
// pauses and SIGHUP continues; an interrupt asks on the terminal, the loop goes on while the
// question waits, and Enter stops the service.
TEST_F(ExecutableTest, DroppedBatchesAreSentOrMovedAndTheTerminalDecidesAClose) {
    for (const fs::path file : {"buh/a.txt", "buh/b.txt", "nobody/c.txt"})
        testing::WriteFile(mail / file, file.stem().string());
    fs::permissions(dir / "options.ini", fs::perms(0644));
    ServerProcess server(exe, {}, {"TimerInterval=50"}, true);

    ASSERT_EQ(smtp.WaitForMessages(1).size(), 1u);
    const std::string failure =
        "Не удалось отправить файлы на адрес: nobody(Error  22: invalid e-mail address \"nobody\")";
    ASSERT_TRUE(server.WaitForError(failure));
    EXPECT_EQ(testing::LogTexts(dir / "mail.log"),
              (std::vector<std::string>{
                  "", "Найден непустой каталог: buh", "Найдены файлы к отправке: [a.txt] [b.txt] ",
                  "Отправка почты на: buh", "Результат отправки: ok",
                  "Найден непустой каталог: nobody", "Найдены файлы к отправке: [c.txt] ",
                  "Отправка почты на: nobody", "Результат отправки: " + failure}));
    EXPECT_TRUE(fs::is_empty(dir / "mail/buh"));
    EXPECT_EQ(testing::ReadFile(dir / "lost/nobody/c.txt"), "c");
    fs::create_hard_link(exe, dir / "second");  // same options.ini, outputs of its own
    ServerProcess second(dir / "second", {}, {"TimerInterval=50"});
    EXPECT_EQ(second.Wait(), 78);
    EXPECT_NE(second.Errors().find("<3>Сервис уже запущен с этими настройками (pid "),
              std::string::npos)
        << second.Errors();
    EXPECT_EQ(ServerProcess(dir / "second", {"/t"}).Wait(), 0);

    server.Signal(SIGUSR2);
    server.Signal(SIGUSR1);
    ASSERT_TRUE(server.WaitForError("<3>Service paused\n"));
    testing::WriteFile(dir / "mail/buh/d.txt", "d");
    server.Signal(SIGINT);
    ASSERT_TRUE(
        server.WaitForTerminal("Stop Service\nAre you sure you want to unload the service?...\nthe "
                               "service will be stopped\n[Y/n] "));
    server.Signal(SIGHUP);
    EXPECT_EQ(smtp.WaitForMessages(2).size(), 2u) << "the loop goes on while the question waits";
    server.Type("\n");
    EXPECT_EQ(server.Wait(), 0);
    const std::string readable =
        "<3>" + (dir / "options.ini").string() +
        " (holds [SMTP] Password) can be read by any user "
        "(mode 0644); make it readable by its owner and group only (chmod o-r)\n";
    EXPECT_EQ(server.Errors(), kStarted + readable + "<3>" + failure +
                                   "\n<3>Service paused\n<6>Service continued\n" + readable);
}

// A stop during a send asks systemd for time and lets the send finish and its files go. A share
// under the mail folder that does not answer (sshfs over an sftp-server the test stops) is named,
// after [SMTP] Timeout, and a stop ends the service at once: only the thread that waits on the
// share is left, until the share answers. The share part is skipped where it cannot be mounted.
TEST_F(ExecutableTest, AStopWaitsForASendButNotForAShareThatStopsAnswering) {
    testing::SmtpServer holding(testing::SmtpServer::Fault::HoldAtData);
    testing::WriteFile(dir / "options.ini",
                       std::regex_replace(options, std::regex("\\[SMTP\\][^]*\\[alias\\]"),
                                          holding.SmtpSection(5) + "[alias]"));
    testing::WriteFile(dir / "mail/buh/a.txt", "a");
    {
        ServerProcess server(exe, {}, {"TimerInterval=50"});
        ASSERT_TRUE(holding.WaitUntilHeld());
        server.Signal(SIGTERM);
        holding.Release();
        EXPECT_EQ(server.Wait(), 0);
        EXPECT_NE(server.Notifications().find("STATUS=Остановка\nEXTEND_TIMEOUT_USEC=35000000\n"),
                  std::string::npos)
            << server.Notifications();
        EXPECT_EQ(holding.WaitForMessages(1).size(), 1u);
        EXPECT_FALSE(fs::exists(dir / "mail/buh/a.txt"));
    }
    if (std::getenv("QUORVEL_STRACE_DIR"))
        GTEST_SKIP() << "strace would wait for the thread held by the share";
    const fs::path share = dir / "share", mount = dir / "mount";
    fs::create_directories(share / "mail");
    fs::create_directory(mount);
    testing::SshfsMount shared(share, mount);
    if (!shared.Mounted())
        GTEST_SKIP() << "no FUSE mount here (sshfs, /dev/fuse and root are needed)";
    const std::string silent = "<3>Каталог почты " + (mount / "mail").string() + " не отвечает с ";
    testing::WriteFile(dir / "options.ini",
                       std::regex_replace(options, std::regex("MailFolder=[^\n]*"),
                                          "MailFolder=" + (mount / "mail").string()));
    ServerProcess server(exe, {}, {"TimerInterval=50"});
    testing::WriteFile(share / "mail/buh/b.txt", "b");
    ASSERT_EQ(smtp.WaitForMessages(1).size(), 1u) << "the share answers";
    shared.Pause();
    EXPECT_TRUE(server.WaitForError(silent));  // not ASSERT: the share must answer before the end
    const auto stopped = std::chrono::steady_clock::now();
    server.Signal(SIGTERM);
    EXPECT_TRUE(server.MainThreadEnded());
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 2s);
    shared.Resume();
    EXPECT_EQ(server.Wait(), 0);
}

}  // namespace
}  // namespace quorvel
