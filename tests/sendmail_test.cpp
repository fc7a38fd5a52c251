#include <gtest/gtest.h>

#include <chrono>

#include "base/Clock.h"
#include "log/MailLog.h"
#include "mail/AddressList.h"
#include "mail/HeaderEncoding.h"
#include "mail/SendMail.h"
#include "settings/clsINI.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

using testing::SmtpServer;

// An application folder with options.ini and mail.log, a mail folder, and a server to send to.
class SendMailTest : public ::testing::Test {
protected:
    void Configure(const SmtpServer& server, const std::string& mail = "sender@example.com",
                   const std::string& signature = "S", const std::string& password = "secret") {
        WriteOptions("[Main]\r\nMail=" + mail + "\r\nSignature=" + signature + "\r\n" +
                     server.SmtpSection(2, password));
    }
    void WriteOptions(const std::string& text) {
        testing::WriteFile(dir_ / "options.ini", text);
        ini_.FileName(dir_ / "options.ini");
    }
    void Drop(const std::string& name, std::string_view content) {
        testing::WriteFile(dir_ / "mail" / "buh" / name, content);
    }
    std::string Send(const std::string& address, const std::vector<std::string>& files) {
        return SendMail(address, LongestFileName(files), "buh", (dir_ / "mail").string(), files, ini_, log_);
    }

    testing::TempDir dir_;
    SystemClock clock_;
    MailLog log_{dir_.Path(), clock_};
    clsINI ini_;
};

TEST_F(SendMailTest, BatchArrivesWithHeadersBodyEnvelopeAndAttachmentsInOrder) {
    SmtpServer server;
    Configure(server);
    const std::string big(300000, '\x7f');
    Drop("b.pdf", "abc");
    Drop("report.xml", big);
    Drop("README", "");
    ASSERT_EQ(Send("buh@example.com", {"b.pdf", "report.xml", "README"}), "ok");

    EXPECT_NE(testing::ReadFile(log_.Path()).find("Отправка почты на: buh"), std::string::npos);
    const auto messages = server.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    const auto& m = messages[0];
    EXPECT_EQ(m.MailFrom, "sender@example.com");
    EXPECT_EQ(m.Recipients, (std::vector<std::string>{"buh@example.com", "sender@example.com"}));
    EXPECT_EQ(m.Header("From"), "sender@example.com");
    EXPECT_EQ(m.Header("To"), "buh@example.com");
    EXPECT_EQ(m.Header("Subject"), "report.xml");
    EXPECT_EQ(m.Header("MIME-Version"), "1.0");
    EXPECT_NE(m.Header("Date"), "");
    EXPECT_NE(m.Header("Message-ID").find("@example.com>"), std::string::npos);
    EXPECT_EQ(m.HeaderCount("Bcc") + m.HeaderCount("Cc"), 0u) << "the blind copy is in the envelope only";
    EXPECT_EQ(m.Body, "Вложения (3): \r\nb.pdf\r\nreport.xml\r\nREADME\r\n---\r\nS");
    ASSERT_EQ(m.Attachments.size(), 3u);
    EXPECT_EQ(m.Attachments[0].FileName, "b.pdf");
    EXPECT_EQ(m.Attachments[0].ContentType, "application/pdf");
    EXPECT_EQ(m.Attachments[0].Data, "abc");
    EXPECT_EQ(m.Attachments[1].FileName, "report.xml");
    EXPECT_EQ(m.Attachments[1].ContentType, "application/xml");
    EXPECT_TRUE(m.Attachments[1].Data == big) << "the 300000 bytes differ";
    EXPECT_EQ(m.Attachments[2].ContentType, "application/octet-stream");
    EXPECT_EQ(m.Attachments[2].Data, "");
    EXPECT_TRUE(m.Defects.empty());
}

TEST_F(SendMailTest, CyrillicNamesSubjectAndSignatureArriveIntact) {
    SmtpServer server;
    // Long enough to need several encoded words and RFC 2231 continuations; mixes 1- to 4-byte
    // characters so that any split inside a character would show as a defect or a wrong name.
    const std::string name = "Отчёт за декабрь 2026 года по всем филиалам \"Север\" и Юг 😀 ёЁ.xlsx";
    const std::string signature = "С уважением, бухгалтерия";
    Configure(server, "Бухгалтерия <sender@example.com>", signature);
    Drop(name, "abc");
    Drop("ёж.txt", "");
    ASSERT_EQ(Send("buh@example.com", {"ёж.txt", name}), "ok");

    const auto m = server.WaitForMessages(1).at(0);
    EXPECT_EQ(m.Header("Subject"), name);
    EXPECT_EQ(m.Header("From"), "Бухгалтерия <sender@example.com>");
    EXPECT_EQ(m.Body, "Вложения (2): \r\nёж.txt\r\n" + name + "\r\n---\r\n" + signature);
    ASSERT_EQ(m.Attachments.size(), 2u);
    EXPECT_EQ(m.Attachments[0].FileName, "ёж.txt");
    EXPECT_EQ(m.Attachments[1].FileName, name);
    EXPECT_EQ(m.Attachments[1].Data, "abc");
    // Encoded words inside the quoted name= of Content-Type break RFC 2047 on purpose, for older
    // clients; the parser notes that and still reads them. Nothing else may be out of order.
    for (const auto& defect : m.Defects) EXPECT_EQ(defect.rfind("Content-Type: ", 0), 0u) << defect;
    std::size_t lineStart = 0, headerEnd = m.Raw.find("\r\n\r\n");
    for (std::size_t end; (end = m.Raw.find("\r\n", lineStart)) < headerEnd; lineStart = end + 2) {
        const auto line = m.Raw.substr(lineStart, end - lineStart);
        if (line.rfind("Content-Type: multipart/", 0) != 0) {
            EXPECT_LE(line.size(), 78u) << line;
        }
    }
}

TEST_F(SendMailTest, ControlCharactersInANameAddNoHeaderAndNoRecipient) {
    SmtpServer server;
    Configure(server);
    const std::string name = "a\r\nBcc: evil@example.com\r\nX-\x01.txt";
    Drop(name, "abc");
    ASSERT_EQ(Send("buh@example.com", {name}), "ok");

    const auto m = server.WaitForMessages(1).at(0);
    EXPECT_EQ(m.Recipients, (std::vector<std::string>{"buh@example.com", "sender@example.com"}));
    EXPECT_EQ(m.HeaderCount("Bcc"), 0u);
    EXPECT_EQ(m.Header("Subject"), "a__Bcc: evil@example.com__X-_.txt");
    EXPECT_EQ(m.Body, "Вложения (1): \r\na__Bcc: evil@example.com__X-_.txt\r\n---\r\nS");
    ASSERT_EQ(m.Attachments.size(), 1u);
    EXPECT_EQ(m.Attachments[0].FileName, "a__Bcc: evil@example.com__X-_.txt");
    EXPECT_EQ(m.Attachments[0].Data, "abc");
}

TEST_F(SendMailTest, AddressListGivesEveryoneAToEntryAndAnEnvelopeRecipient) {
    SmtpServer server;
    Configure(server);
    Drop("a.txt", "abc");
    ASSERT_EQ(Send("Бухгалтерия <a@example.com>; b@example.com, \"Petrov, P.\" <c@example.com>,", {"a.txt"}),
              "ok");
    const auto m = server.WaitForMessages(1).at(0);
    EXPECT_EQ(m.Recipients, (std::vector<std::string>{"a@example.com", "b@example.com", "c@example.com",
                                                      "sender@example.com"}));
    EXPECT_EQ(m.Header("To"), "Бухгалтерия <a@example.com>, b@example.com, \"Petrov, P.\" <c@example.com>");
}

TEST_F(SendMailTest, UnfitAddressOrSettingIsRefusedBeforeAnyConnection) {
    // A stalled server: any attempt to reach it would come back as a timeout, not as EINVAL.
    SmtpServer server(SmtpServer::Fault::Stall);
    Drop("a.txt", "abc");
    for (const std::string address : {"buh", "", "a@example.com\r\nRCPT TO:<x@example.com>", "a b@example.com",
                                      "a@-example.com", "Name <a@example.com"}) {
        Configure(server);
        EXPECT_EQ(Send(address, {"a.txt"}).rfind("Error  22: invalid e-mail address", 0), 0u) << address;
    }
    Configure(server, "sender@example.com, other@example.com");
    EXPECT_EQ(Send("a@example.com", {"a.txt"}).rfind("Error  22: invalid e-mail address", 0), 0u);
    for (const auto& [smtp, error] : std::vector<std::pair<std::string, std::string>>{
             {"Server=127.0.0.1\r\nPort=25a\r\nTimeout=2", "Port is not a whole number from 1 to 65535: \"25a\""},
             {"Server=127.0.0.1\r\nPort=25\r\nTimeout=1.5", "Timeout is not a whole number from 1 to 86400: \"1.5\""},
             {"Server=u:p@host/x", "Server is not a host name or address: \"u:p@host/x\""}}) {
        WriteOptions("[Main]\r\nMail=s@example.com\r\n[SMTP]\r\n" + smtp + "\r\n");
        EXPECT_EQ(Send("a@example.com", {"a.txt"}), "Error  22: [SMTP] " + error);
    }
}

TEST_F(SendMailTest, ServerFailuresGiveAnErrorWithoutThePassword) {
    Drop("a.txt", "abc");
    SmtpServer normal;
    SmtpServer refusing(SmtpServer::Fault::RefuseRecipients, {"buh@example.com"});
    SmtpServer dropping(SmtpServer::Fault::DropInData);
    Configure(normal, "sender@example.com", "S", "wrong");
    EXPECT_EQ(Send("buh@example.com", {"a.txt"}), "Error  67: Login denied");

    for (const SmtpServer* server : {&refusing, &dropping}) {
        Configure(*server);
        const std::string result = Send("buh@example.com", {"a.txt"});
        EXPECT_EQ(result.rfind("Error  ", 0), 0u) << result;
        EXPECT_EQ(result.find(server->Password()), std::string::npos) << result;
    }
    Configure(normal);
    const std::string result = Send("buh@example.com", {"a.txt", "gone.txt"});
    EXPECT_EQ(result.rfind("Error  26: ", 0), 0u) << result;
    EXPECT_NE(result.find("gone.txt"), std::string::npos) << result;
    EXPECT_TRUE(refusing.Messages().empty() && dropping.Messages().empty() && normal.Messages().empty());
    EXPECT_EQ(testing::ReadFile(log_.Path()).find("secret"), std::string::npos);
}

TEST_F(SendMailTest, StalledServerGivesAnErrorWithinTheTimeout) {
    SmtpServer stalled(SmtpServer::Fault::Stall);
    Configure(stalled);  // Timeout=2
    Drop("a.txt", "abc");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Send("buh@example.com", {"a.txt"}), "Error  28: Timeout was reached");
    // A correctness bound, not a speed goal: without the response timeout this never returns.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(SendMailText, LongestNameErrorNumbersAndHeaderEdges) {
    EXPECT_EQ(MailboxHeaderText({" Anna ", "a@b.c"}), "\" Anna \" <a@b.c>") << "blanks kept inside quotes";
    EXPECT_LE(EncodeWords(std::string(60, 'a'), 0).find("\r\n"), 75u) << "no word over 75 characters";
    EXPECT_EQ(LongestFileName({}), "");
    EXPECT_EQ(LongestFileName({"ab.pdf", "cd.txt", "e.doc"}), "ab.pdf");
    EXPECT_EQ(LongestFileName({"a", "bb", "cc"}), "bb");
    EXPECT_EQ(LongestFileName({"абвгдеж.txt", "abcdefghijklm.txt"}), "abcdefghijklm.txt") << "characters, not bytes";
    EXPECT_EQ(SendErrorText(67, "Login denied"), "Error  67: Login denied");
    EXPECT_EQ(SendErrorText(0, "x"), "Error  0: x");
    EXPECT_EQ(SendErrorText(-5, "x"), "Error -5: x");
}

}  // namespace
}  // namespace quorvel
