#include <gtest/gtest.h>

#include <curl/curl.h>

#include <algorithm>
#include <csignal>
#include <memory>

#include "mail/FailureKind.h"
#include "mail/RetryBook.h"
#include "mail/RetrySettings.h"
#include "support/ServerProcess.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

using std::chrono::seconds;

TEST(Retry, FailuresAreSortedByTheServersReplyFirst) {
    struct Case { int curl; long reply; FailureKind kind; };
    const Case cases[] = {
        {CURLE_WEIRD_SERVER_REPLY, 451, FailureKind::Passing},  // 451 after the message
        {CURLE_SEND_ERROR, 452, FailureKind::Passing},           // 452 at RCPT
        {CURLE_WEIRD_SERVER_REPLY, 552, FailureKind::Lasting},
        {CURLE_LOGIN_DENIED, 535, FailureKind::Lasting},
        {CURLE_SEND_ERROR, 550, FailureKind::Lasting},
        {CURLE_COULDNT_CONNECT, 0, FailureKind::Passing},
        {CURLE_COULDNT_RESOLVE_HOST, 0, FailureKind::Passing},
        {CURLE_OPERATION_TIMEDOUT, 0, FailureKind::Passing},
        {CURLE_RECV_ERROR, 0, FailureKind::Passing},
        {CURLE_PEER_FAILED_VERIFICATION, 0, FailureKind::Lasting},
        {CURLE_READ_ERROR, 0, FailureKind::Lasting},
        {EINVAL, 0, FailureKind::Lasting},  // an invalid address, refused before connecting
    };
    for (const Case& c : cases) EXPECT_EQ(ClassifyFailure(c.curl, c.reply), c.kind) << c.curl << " " << c.reply;
}

TEST(Retry, AFolderWaitsUntilRetryForHasPassedSinceItsFirstFailure) {
    const RetryBook::Time t0{seconds(1000)};
    const RetrySettings settings{seconds(10), seconds(3)};
    RetryBook book;
    EXPECT_EQ(book.Defer("a", t0, settings), t0 + seconds(3));
    EXPECT_TRUE(book.Waits("a", t0 + seconds(2)));
    EXPECT_FALSE(book.Waits("a", t0 + seconds(3)));
    EXPECT_FALSE(book.Waits("b", t0));
    EXPECT_EQ(book.Defer("a", t0 + seconds(9), settings), t0 + seconds(12)) << "counted from the first failure";
    EXPECT_EQ(book.Waiting().size(), 1u);
    EXPECT_EQ(book.Defer("a", t0 + seconds(10), settings), std::nullopt);
    EXPECT_TRUE(book.Waiting().empty()) << "a folder that gave up no longer waits";
    EXPECT_EQ(book.Defer("a", t0, RetrySettings{}), std::nullopt) << "no RetryFor, no waiting";
}

TEST(Retry, BadKeysAreNamedWithTheirValues) {
    testing::TempDir dir;
    auto check = [&](const std::string& smtp) {
        testing::WriteFile(dir / "options.ini", "[SMTP]\n" + smtp);
        clsINI ini;
        ini.FileName(dir / "options.ini");
        return CheckRetrySettings(ini, dir.Path());
    };
    EXPECT_EQ(check(""), "");
    EXPECT_EQ(check("RetryFor=604800\nRetryDelay=1\n"), "");
    EXPECT_EQ(check("RetryFor=0\nRetryDelay=86400\n"), "");
    EXPECT_EQ(check("RetryFor=604801\n"),
              "Неверно задано время повторных попыток: [SMTP] RetryFor = \"604801\" (0..604800)\r\n");
    EXPECT_EQ(check("RetryDelay=0\nRetryFor=-1\n"),
              "Неверно задано время повторных попыток: [SMTP] RetryFor = \"-1\" (0..604800)\r\n"
              "Неверно задан интервал повторных попыток: [SMTP] RetryDelay = \"0\" (1..86400)\r\n");
    EXPECT_NE(check("RetryDelay=1.5\n"), "");
}

// The real executable against the test server, one cycle a second.
class RetryDeliveryTest : public ::testing::Test {
protected:
    using Fault = testing::SmtpServer::Fault;

    // Starts the service on buh/a.txt (and the `more` files, "folder/name") with the [SMTP] lines
    // of `smtp` and `retry`.
    std::unique_ptr<testing::ServerProcess> Start(const testing::SmtpServer& smtp, const std::string& retry,
                                                  const std::vector<std::string>& more = {},
                                                  const std::string& password = "secret") {
        std::filesystem::copy_file(QUORVEL_SERVER_EXE, Dir() / "quorvel-server");
        testing::WriteFile(Dir() / "options.ini", "[Main]\nMailFolder=mail\nLostFolder=lost\nMail=robot@example.com\n"
                                                "Timer=1\n" + smtp.SmtpSection(5, password) + retry + "\n[alias]\nbuh=buh@example.com\n");
        testing::WriteFile(Dir() / "mail/buh/a.txt", "a");
        for (const std::string& file : more) testing::WriteFile(Dir() / "mail" / file, file);
        return std::make_unique<testing::ServerProcess>(Dir() / "quorvel-server",
                                                        testing::ServerProcess::Options{{}, {"TimerInterval=50"}, false});
    }
    static std::string Stop(testing::ServerProcess& service) {
        service.Signal(SIGTERM);
        EXPECT_EQ(service.Wait(), 0);
        return service.Errors();
    }
    bool Lost(const std::string& file = "buh/a.txt") const { return std::filesystem::exists(Dir() / "lost" / file); }

    void Fresh() {
        dir_.reset();
        dir_.emplace();
    }
    std::filesystem::path Dir() const { return dir_->Path(); }

    std::optional<testing::TempDir> dir_{std::in_place};
};

// A server that is down, or answers 451, for the first two tries: one message, nothing lost, and
// each try put off is an information entry.
TEST_F(RetryDeliveryTest, APassingFailureIsTriedAgainUntilItGoesThrough) {
    for (Fault fault : {Fault::DownFirst, Fault::FailFirst}) {
        Fresh();
        testing::SmtpServer smtp(fault);
        auto service = Start(smtp, "RetryFor=20\nRetryDelay=1\n");
        EXPECT_EQ(smtp.WaitForMessages(1).size(), 1u) << service->Errors();
        const std::string journal = Stop(*service);
        EXPECT_FALSE(Lost());
        EXPECT_EQ(journal.find("<3>"), std::string::npos) << journal;
        EXPECT_NE(journal.find("<6>Отправка отложена до "), std::string::npos) << journal;
        EXPECT_GE(testing::LogTexts(Dir() / "mail.log").size(), 12u) << "three tries, four lines each";
    }
}

// Lasting failures go to the lost folder at once whatever RetryFor says, and without the keys every
// failure does, as it always did.
TEST_F(RetryDeliveryTest, LastingFailuresAndNoRetryKeysGoToTheLostFolderAtOnce) {
    struct Case { Fault fault; std::string password, retry; };
    for (const Case& c : {Case{Fault::RefuseRecipients, "secret", "RetryFor=20\nRetryDelay=1\n"},
                          Case{Fault::None, "wrong", "RetryFor=20\nRetryDelay=1\n"},
                          Case{Fault::DownFirst, "secret", ""}}) {
        Fresh();
        testing::SmtpServer smtp(c.fault, {"buh@example.com"});
        auto service = Start(smtp, c.retry, {}, c.password);
        EXPECT_TRUE(service->WaitForError("<3>Не удалось отправить файлы на адрес: buh("));
        const std::string journal = Stop(*service);
        EXPECT_TRUE(Lost()) << journal;
        EXPECT_EQ(journal.find("Отправка отложена"), std::string::npos) << journal;
    }
}

// A server that stays down past RetryFor: the batch goes to the lost folder with the last failure;
// meanwhile the waiting folder does not hold back another one, which goes out.
TEST_F(RetryDeliveryTest, AWaitingFolderWaitsAloneUntilRetryForRunsOut) {
    testing::SmtpServer smtp(Fault::DeferRecipients, {"buh@example.com"});
    auto service = Start(smtp, "RetryFor=4\nRetryDelay=2\n", {"x@example.com/b.txt"});
    EXPECT_EQ(smtp.WaitForMessages(1).size(), 1u);
    EXPECT_FALSE(Lost());
    EXPECT_TRUE(service->WaitForError("<3>Не удалось отправить файлы на адрес: buh(Error  55: RCPT failed: 451"));
    const std::string journal = Stop(*service);
    EXPECT_TRUE(Lost()) << journal;
    EXPECT_FALSE(std::filesystem::exists(Dir() / "mail/x@example.com/b.txt"));
    const auto log = testing::LogTexts(Dir() / "mail.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), "Отправка почты на: buh"), 3) << "tries at 0, 2 and 4 s";
}

TEST_F(RetryDeliveryTest, BadRetryValuesStopTheService) {
    for (const char* retry : {"RetryFor=a week\n", "RetryDelay=0\n"}) {
        Fresh();
        testing::SmtpServer smtp;
        auto service = Start(smtp, retry);
        EXPECT_EQ(service->Wait(), 78);
        EXPECT_NE(service->Errors().find("повторных попыток: [SMTP] Retry"), std::string::npos) << service->Errors();
    }
}

}  // namespace
}  // namespace quorvel
