#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <thread>

#include "support/ServerProcess.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kStarted = "<6>Запущен сервис автоматической отправки почты\n";

// The real executable, in a folder of its own beside its options.ini, sending to the test server.
class DeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(QUORVEL_SERVER_EXE, exe);
        testing::WriteFile(dir / "options.ini",
                           "[Main]\nMailFolder=" + (dir / "mail").string() + "\nMail=robot@example.com\n"
                           "LostFolder=" + (dir / "lost").string() + "\nTimer=1\nSignature=S\n" +
                           smtp.SmtpSection(5) + "[alias]\nbuh=buh@example.com\n");
    }

    testing::TempDir dir;
    fs::path exe = dir / "quorvel-server";
    testing::SmtpServer smtp;
};

TEST_F(DeliveryTest, DroppedBatchesAreSentOrMovedByTheRunningService) {
    testing::WriteFile(dir / "mail/buh/a.txt", "a");
    testing::WriteFile(dir / "mail/buh/b.txt", "b");
    testing::WriteFile(dir / "mail/nobody/c.txt", "c");
    auto start = std::chrono::steady_clock::now();
    testing::ServerProcess server(exe, {{}, {"TimerInterval=50"}, false});

    auto delivered = smtp.WaitForMessages(1, 2s);
    ASSERT_EQ(delivered.size(), 1u) << "no delivery within two seconds of start";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(delivered[0].Recipients, (std::vector<std::string>{"buh@example.com", "robot@example.com"}));
    ASSERT_TRUE(testing::WaitForFileText(dir / "mail.log", "Результат отправки: ", 2));
    ASSERT_TRUE(server.WaitForError("<3>"));

    const std::string failure =
        "Не удалось отправить файлы на адрес: nobody(Error  22: invalid e-mail address \"nobody\")";
    EXPECT_EQ(testing::LogTexts(dir / "mail.log"), (std::vector<std::string>{"",
                                                    "Найден непустой каталог: buh",
                                                    "Найдены файлы к отправке: [a.txt] [b.txt] ",
                                                    "Отправка почты на: buh",
                                                    "Результат отправки: ok",
                                                    "Найден непустой каталог: nobody",
                                                    "Найдены файлы к отправке: [c.txt] ",
                                                    "Отправка почты на: nobody",
                                                    "Результат отправки: " + failure}));
    EXPECT_TRUE(fs::is_empty(dir / "mail/buh"));
    EXPECT_EQ(testing::ReadFile(dir / "lost/nobody/c.txt"), "c");

    // SIGUSR2 changes nothing. Paused, the service sends nothing; continued, it checks its settings
    // and sends again. Without a terminal, an interrupt is a stop.
    server.Signal(SIGUSR2);
    server.Signal(SIGUSR1);
    ASSERT_TRUE(server.WaitForError("<3>Service paused\n"));
    testing::WriteFile(dir / "mail/buh/d.txt", "d");
    std::this_thread::sleep_for(2500ms);
    EXPECT_TRUE(fs::exists(dir / "mail/buh/d.txt"));
    EXPECT_EQ(smtp.Messages().size(), 1u);
    server.Signal(SIGHUP);
    EXPECT_EQ(smtp.WaitForMessages(2).size(), 2u);

    server.Signal(SIGINT);
    EXPECT_EQ(server.Wait(), 0);
    EXPECT_EQ(server.Errors(), std::string(kStarted) + "<3>" + failure + "\n<3>Service paused\n<6>Service continued\n");
    // The status line after each send, the pause and the continue, with the times taken out.
    const std::string sent = "STATUS=Работает; последняя отправка T: ok\n";
    const std::string failed = "; последняя отправка T: " + failure + "\n";
    EXPECT_EQ(std::regex_replace(server.Notifications(), std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)"), "T"),
              "READY=1\nSTATUS=Работает; отправок ещё не было\n" + sent + "STATUS=Работает" + failed +
                  "STATUS=Приостановлена" + failed + "STATUS=Работает" + failed + "STATUS=Работает" + failed +
                  sent + "STATUS=Остановка\n");
}

}  // namespace
}  // namespace quorvel
