#include <gtest/gtest.h>

#include <curl/curl.h>

#include "mail/FailureKind.h"
#include "mail/RetryBook.h"
#include "mail/RetrySettings.h"
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

}  // namespace
}  // namespace quorvel
