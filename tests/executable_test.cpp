#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>

#include "service/UnitFiles.h"
#include "support/ServerProcess.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::ServerProcess;

constexpr const char* kStarted = "<6>Запущен сервис автоматической отправки почты\n";
const std::string kIdle = "STATUS=Работает; отправок ещё не было\n";

// A copy of the executable in a folder of its own, beside an options.ini whose mail folder is
// empty, so that every cycle has nothing to do.
class ExecutableTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    fs::path exe = dir / "quorvel-server";

    void SetUp() override {
        fs::copy_file(QUORVEL_SERVER_EXE, exe);
        fs::create_directory(dir / "mail");
        testing::WriteFile(dir / "options.ini",
                           "[Main]\nMailFolder=" + (dir / "mail").string() + "\nMail=a@b.c\n"
                           "LostFolder=" + (dir / "lost").string() + "\nTimer=1\n"
                           "[SMTP]\nServer=127.0.0.1\nPort=25\nUser=u\nPassword=p\nTimeout=5\n");
    }

    ServerProcess Run(const std::string& timerInterval, bool terminal = false) {
        return ServerProcess(exe, {{}, {"TimerInterval=" + timerInterval}, terminal});
    }
    // Each settings check writes one line ending in " - " to mail.log.
    bool WaitForChecks(int count) {
        return testing::WaitForFileText(dir / "mail.log", " - \r\n", count);
    }
};

TEST_F(ExecutableTest, AnyOtherArgumentIsRefusedWithStatus2) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"/I"}, {"/i", "extra"}, {"--help"}, {"/u/i"}}) {
        ServerProcess server(exe, {arguments, {}, false});
        EXPECT_EQ(server.Wait(), 2) << arguments[0];
        EXPECT_EQ(server.Output(), "Invalid Parameter\n");
    }
}

TEST_F(ExecutableTest, ThePromptOnTheTerminalDecidesAClose) {
    ServerProcess server = Run("50", true);
    ASSERT_TRUE(server.WaitForError(kStarted));
    server.Signal(SIGINT);
    ASSERT_TRUE(server.WaitForTerminal(
        "Stop Service\nAre you sure you want to unload the service?...\n"
        "the service will be stopped\n[Y/n] "));
    server.Signal(SIGUSR1);   // the loop goes on while the question waits
    ASSERT_TRUE(server.WaitForError("<3>Service paused\n"));
    server.Type("n\n");
    server.Signal(SIGHUP);    // still running after No
    ASSERT_TRUE(server.WaitForError("<6>Service continued\n"));

    // The "n" may still be on its way to the service, and an interrupt while the question is open
    // is ignored: interrupt until the question is asked a second time.
    bool askedAgain = false;
    for (int attempt = 0; attempt < 50 && !askedAgain; ++attempt) {
        server.Signal(SIGINT);
        askedAgain = server.WaitForTerminal("[Y/n] ", 2, std::chrono::milliseconds(400));
    }
    ASSERT_TRUE(askedAgain);
    server.Type("\n");
    EXPECT_EQ(server.Wait(), 0);
}

// TimerInterval is the delay of the start-up check. systemd hears READY=1 after a passing check,
// at once when no check will ever run (0), and never when the delay or the settings are unusable.
TEST_F(ExecutableTest, ReadyFollowsThePassingStartUpCheck) {
    const std::string noSettings = "<3>Не найден файл настроек " + (dir / "options.ini").string() + "\n";
    const std::vector<std::pair<std::string, std::string>> cases = {   // the value, its error entry
        {"abc", "<3>[22] "}, {"40000", "<3>[34] "},
        {"-5", "<3>[22] invalid timer interval -5 ms: it must not be negative\n"},
        {"0", ""}, {" 1000 ", ""}, {"2.5", ""}, {"10", noSettings},
    };
    for (const auto& [value, entry] : cases) {
        SCOPED_TRACE("TimerInterval=\"" + value + "\"");
        fs::remove(dir / "mail.log");
        if (entry == noSettings) fs::remove(dir / "options.ini");
        ServerProcess server = Run(value);
        ASSERT_TRUE(server.WaitForError(entry.empty() ? kStarted : entry));
        if (value == "0") {   // no check ever runs; a pause proves that the loop is alive
            server.Signal(SIGUSR1);
            ASSERT_TRUE(server.WaitForError("<3>Service paused\n"));
            EXPECT_FALSE(fs::exists(dir / "mail.log"));
        } else if (entry.empty()) {
            EXPECT_TRUE(WaitForChecks(1));
        }
        if (entry != noSettings) server.Signal(SIGTERM);  // without settings it stops by itself
        EXPECT_EQ(server.Wait(), entry == noSettings ? 78 : 0);
        const std::string told = server.Notifications();
        if (entry.empty()) {
            EXPECT_TRUE(told.starts_with("READY=1\n" + kIdle)) << told;
        } else {
            EXPECT_EQ(told, entry == noSettings ? "STOPPING=1\n" : "");
            EXPECT_EQ(server.Errors().find(kStarted) == std::string::npos, entry != noSettings);
        }
    }
}

// `/t` checks every setting (status 78, the setting named, no connection), then logs in to the
// server (0, or 69 when it cannot be reached or refuses); the password never shows.
TEST_F(ExecutableTest, TheSettingsTestChecksEverySettingThenTheLogin) {
    testing::SmtpServer smtp;
    const std::string port = std::to_string(smtp.Port());
    const std::string good = "[Main]\nMailFolder=" + (dir / "mail/").string() + "\nMail=robot@example.com\n"
                             "LostFolder=" + (dir / "lost").string() + "\nTimer=1\n" + smtp.SmtpSection(5) +
                             "[alias]\nbuh=Anna <anna@example.com>, boss@example.com\n";
    struct Case {
        std::string key, value;   // the line of the good settings that is changed
        int status;
        std::string output;       // a line the output must hold
    };
    const std::vector<Case> cases = {
        {"", "", 0, "QuorvelServer: настройки в порядке\nQuorvelServer: вход на SMTP-сервер 127.0.0.1:" + port + " выполнен\n"},
        {"Password", "wrong-7301", 69, "QuorvelServer: вход на SMTP-сервер не выполнен: [67] Login denied (535 5.7.8 Authentication credentials invalid)\n"},
        {"Port", "1", 69, "QuorvelServer: вход на SMTP-сервер не выполнен: [7] "},
        {"Password", "", 78, "QuorvelServer: Не задан пароль SMTP-сервера\n"},
        {"Port", "25a", 78, "QuorvelServer: [SMTP] Port is not a whole number from 1 to 65535: \"25a\"\n"},
        {"Timeout", "0", 78, "[SMTP] Timeout"},
        {"Server", "a/b@c", 78, "[SMTP] Server"},
        {"Timer", "40000", 78, "QuorvelServer: Неверно задан интервал проверки: [Main] Timer = \"40000\"\n"},
        {"Mail", "robot", 78, "QuorvelServer: [Main] Mail: "},
        {"buh", "anna@example.com; boss", 78, "QuorvelServer: [alias] buh: "},
        {"MailFolder", (dir / "nowhere").string(), 78, "QuorvelServer: Не найден каталог почты " + (dir / "nowhere").string() + "\n"},
        {"LostFolder", (dir / "x/y").string(), 78, "QuorvelServer: Не удаётся создать каталог неотправленной почты " + (dir / "x/y").string() + "\n"},
        {"options.ini", "", 78, "QuorvelServer: Не найден файл настроек " + (dir / "options.ini").string() + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key + "=" + c.value);
        std::string options = good;
        if (std::size_t at = options.find("\n" + c.key + "="); at != std::string::npos) {
            std::size_t end = options.find_first_of("\r\n", at + 1);
            options.replace(at + 2 + c.key.size(), end - at - 2 - c.key.size(), c.value);
        }
        testing::WriteFile(dir / "options.ini", options);
        if (c.key == "options.ini") fs::remove(dir / "options.ini");
        ServerProcess server(exe, {{"/t"}, {}, false});
        EXPECT_EQ(server.Wait(), c.status);
        EXPECT_NE(server.Output().find(c.output), std::string::npos) << server.Output();
        EXPECT_EQ(server.Output().find(c.value.empty() ? smtp.Password() : "wrong-7301"), std::string::npos);
        EXPECT_EQ(server.Output().find(" выполнен\n") != std::string::npos, c.status == 0);
    }
    EXPECT_TRUE(smtp.Messages().empty());
}


// /i and /u run in a mount namespace of their own with an empty tmpfs over the unit folder, so
// the machine's own /etc is never touched. A run that cannot make one is skipped.
TEST_F(ExecutableTest, InstallAndUninstallInAThrowawayUnitFolder) {
    const std::string script =
        "mount -t tmpfs tmpfs /etc/systemd/system || exit 99\n"
        "run() { \"$1\" $3 >\"$2/$4.out\" 2>\"$2/$4.err\"; echo $? >\"$2/$4.status\"; }\n"
        "run \"$1\" \"$2\" /i install; cp -a /etc/systemd/system \"$2/installed\"\n"
        "run \"$1\" \"$2\" /u uninstall; cp -a /etc/systemd/system \"$2/uninstalled\"\n"
        "run \"$1\" \"$2\" /u again\n"
        "mount -o remount,ro /etc/systemd/system && run \"$1\" \"$2\" /i readonly\n";
    testing::WriteFile(dir / "install.sh", script);
    std::string command = "unshare -m sh " + (dir / "install.sh").string() + " " + exe.string() +
                          " " + dir.Path().string() + " 2>/dev/null";
    int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 99 || !fs::exists(dir / "install.status")) {
        GTEST_SKIP() << "no private mount namespace here (not root?)";
    }
    auto result = [&](const std::string& step) {
        return testing::ReadFile(dir / (step + ".status")) + testing::ReadFile(dir / (step + ".out"));
    };
    const fs::path installed = dir / "installed";
    EXPECT_EQ(result("install"), "0\nQuorvelServer: установлено успешно.\n");
    EXPECT_EQ(testing::ReadFile(installed / "QuorvelServer.service"),
              UnitFileText("Служба автоматической отправки почты", exe));
    EXPECT_EQ(testing::ReadFile(installed / "QuorvelServer.service.d" / "parameters.conf"),
              "[Service]\nEnvironment=\"TimerInterval=1000\"\n");
    EXPECT_EQ(fs::read_symlink(installed / "multi-user.target.wants" / "QuorvelServer.service"),
              "/etc/systemd/system/QuorvelServer.service");

    EXPECT_EQ(result("uninstall"), "0\nQuorvelServer: деинсталляция завершена\n");
    EXPECT_FALSE(fs::exists(dir / "uninstalled" / "QuorvelServer.service"));
    EXPECT_FALSE(fs::exists(dir / "uninstalled" / "QuorvelServer.service.d"));
    EXPECT_FALSE(fs::exists(dir / "uninstalled" / "multi-user.target.wants" /
                            "QuorvelServer.service"));

    EXPECT_EQ(result("again"), "1\nQuorvelServer: ошибка деинсталляции\n");
    EXPECT_NE(testing::ReadFile(dir / "again.err").find("not installed"), std::string::npos);
    EXPECT_EQ(result("readonly"), "1\nQuorvelServer: ошибка при установке\n");
    EXPECT_NE(testing::ReadFile(dir / "readonly.err").find("Read-only file system"),
              std::string::npos);
}

}  // namespace
}  // namespace quorvel
