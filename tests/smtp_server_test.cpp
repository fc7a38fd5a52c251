#include <gtest/gtest.h>

#include <curl/curl.h>

#include "support/SmtpServer.h"

namespace quorvel::testing {
namespace {

// Sends `message` as it stands with plain libcurl, so that the fixture is checked on its own.
CURLcode SendRaw(const SmtpServer& server, const std::string& password, const std::string& message) {
    CURL* curl = curl_easy_init();
    std::string url = "smtp://" + server.Host() + ":" + std::to_string(server.Port());
    curl_slist* rcpt = curl_slist_append(nullptr, "<to@example.com>");
    std::size_t offset = 0;
    auto read = +[](char* buffer, std::size_t size, std::size_t n, void* user) -> std::size_t {
        auto* state = static_cast<std::pair<const std::string*, std::size_t*>*>(user);
        std::size_t len = std::min(size * n, state->first->size() - *state->second);
        std::copy_n(state->first->data() + *state->second, len, buffer);
        *state->second += len;
        return len;
    };
    std::pair<const std::string*, std::size_t*> state{&message, &offset};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, server.User().c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, "<from@example.com>");
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, read);
    curl_easy_setopt(curl, CURLOPT_READDATA, &state);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, 2L);
    CURLcode rc = curl_easy_perform(curl);
    curl_slist_free_all(rcpt);
    curl_easy_cleanup(curl);
    return rc;
}

const std::string kMessage =
    "From: from@example.com\r\nTo: to@example.com\r\nSubject: =?UTF-8?B?0J/RgNC40LLQtdGC?=\r\n"
    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
    "--b\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\nbody\r\n"
    "--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"a.pdf\"\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\nYWJj\r\n--b--\r\n";

TEST(SmtpServerFixture, StoresAndDecodesWhatItAccepts) {
    SmtpServer server;
    ASSERT_EQ(SendRaw(server, server.Password(), kMessage), CURLE_OK);
    auto messages = server.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    const auto& m = messages[0];
    EXPECT_EQ(m.MailFrom, "from@example.com");
    EXPECT_EQ(m.Recipients, std::vector<std::string>{"to@example.com"});
    EXPECT_EQ(m.Header("subject"), "Привет");
    EXPECT_EQ(m.HeaderCount("To"), 1u);
    EXPECT_EQ(m.Body, "body");
    ASSERT_EQ(m.Attachments.size(), 1u);
    EXPECT_EQ(m.Attachments[0].FileName, "a.pdf");
    EXPECT_EQ(m.Attachments[0].ContentType, "application/pdf");
    EXPECT_EQ(m.Attachments[0].Size, 3u);
    EXPECT_EQ(m.Attachments[0].Sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_NE(m.Raw.find("Subject: =?UTF-8?B?"), std::string::npos);
}

TEST(SmtpServerFixture, FaultModesRefuse) {
    SmtpServer server;
    EXPECT_EQ(SendRaw(server, "wrong", kMessage), CURLE_LOGIN_DENIED);
    SmtpServer refusing({SmtpServer::Fault::RefuseRecipients, {"to@example.com"}});
    EXPECT_EQ(SendRaw(refusing, refusing.Password(), kMessage), CURLE_SEND_ERROR);
    SmtpServer dropping({SmtpServer::Fault::DropInData, {}});
    EXPECT_NE(SendRaw(dropping, dropping.Password(), kMessage), CURLE_OK);
    SmtpServer stalled({SmtpServer::Fault::Stall, {}});
    EXPECT_EQ(SendRaw(stalled, stalled.Password(), kMessage), CURLE_OPERATION_TIMEDOUT);
    EXPECT_TRUE(server.Messages().empty() && refusing.Messages().empty() && dropping.Messages().empty());
}

}  // namespace
}  // namespace quorvel::testing
