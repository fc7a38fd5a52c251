#include <gtest/gtest.h>

#include <curl/curl.h>

#include <csignal>

#include "mail/FailureKind.h"
#include "support/SmtpServer.h"
#include "support/ServerProcess.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Fault = testing::SmtpServer::Fault;

TEST(Retry, FailuresAreSortedByTheServersReplyFirst) {
    const struct { int curl; long reply; FailureKind kind; } cases[] = {
        {CURLE_WEIRD_SERVER_REPLY, 451, FailureKind::Passing}, {CURLE_SEND_ERROR, 452, FailureKind::Passing},
        {CURLE_WEIRD_SERVER_REPLY, 552, FailureKind::Lasting}, {CURLE_LOGIN_DENIED, 535, FailureKind::Lasting},
        {CURLE_COULDNT_CONNECT, 0, FailureKind::Passing},      {CURLE_COULDNT_RESOLVE_HOST, 0, FailureKind::Passing},
        {CURLE_OPERATION_TIMEDOUT, 0, FailureKind::Passing},   {CURLE_RECV_ERROR, 0, FailureKind::Passing},
        {CURLE_PEER_FAILED_VERIFICATION, 0, FailureKind::Lasting}, {CURLE_READ_ERROR, 0, FailureKind::Lasting},
        {EINVAL, 0, FailureKind::Lasting},  // an invalid address, refused before connecting
    };
    for (const auto& c : cases) EXPECT_EQ(ClassifyFailure(c.curl, c.reply), c.kind) << c.curl << " " << c.reply;
}

// The running service: a server down, then answering 451, for the first two tries; the batch goes
// through on the third, nothing is lost, and each try put off is an information entry.
TEST(RetryDelivery, APassingFailureIsTriedAgainUntilItGoesThrough) {
    for (Fault fault : {Fault::DownFirst, Fault::FailFirst}) {
        testing::TempDir dir;
        testing::SmtpServer smtp(fault);
        fs::copy_file(QUORVEL_SERVER_EXE, dir / "quorvel-server");
        testing::WriteFile(dir / "options.ini", "[Main]\nMailFolder=mail\nLostFolder=lost\nMail=robot@example.com\nTimer=1\n" +
                                                    smtp.SmtpSection(5) + "RetryFor=20\nRetryDelay=1\n[alias]\nbuh=buh@example.com\n");
        testing::WriteFile(dir / "mail/buh/a.txt", "a");
        testing::ServerProcess service(dir / "quorvel-server", testing::ServerProcess::Options{{}, {"TimerInterval=50"}, false});
        EXPECT_EQ(smtp.WaitForMessages(1).size(), 1u) << service.Errors();
        service.Signal(SIGTERM);
        EXPECT_EQ(service.Wait(), 0);
        EXPECT_FALSE(fs::exists(dir / "lost/buh/a.txt"));
        EXPECT_EQ(service.Errors().find("<3>"), std::string::npos) << service.Errors();
        EXPECT_NE(service.Errors().find("<6>Отправка отложена до "), std::string::npos) << service.Errors();
    }
}

}  // namespace
}  // namespace quorvel
