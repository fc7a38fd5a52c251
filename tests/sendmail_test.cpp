#include "delivery/SendMail.h"

#include <gtest/gtest.h>

#include "base/Base64.h"
#include "support/SmtpServer.h"

namespace quorvel {
namespace {

using testing::SmtpServer;
using Names = std::vector<std::string>;

// An application folder with options.ini and mail.log, and a mail folder with the recipient folder
// buh.
class SendMailTest : public ::testing::Test {
protected:
    // `smtp`: more [SMTP] keys, e.g. "Security=starttls\r\nCAFile=...".
    void Configure(const SmtpServer& server, const std::string& smtp = "",
                   const std::string& mail = "sender@example.com",
                   const std::string& password = "secret") {
        testing::WriteFile(dir_ / "options.ini", "[Main]\r\nMail=" + mail +
                                                     "\r\nSignature=С уважением\r\n" +
                                                     server.SmtpSection(2, password) + smtp);
        ini_.FileName(dir_ / "options.ini");
    }
    void Drop(const std::string& name, std::string_view content) {
        testing::WriteFile(dir_ / "mail/buh" / name, content);
    }
    std::string Send(const std::string& address, const Names& files,
                     const std::string& subject = "s") {
        std::optional<Batch> batch = Batch::OpenPath(dir_ / "mail/buh");
        for (const std::string& name : files) batch->Add(name);
        OAuthTokens tokens(clock_);
        return SendMail(address, subject, *batch, ini_, log_, tokens).Text;
    }

    testing::TempDir dir_;
    SystemClock clock_;
    MailLog log_{dir_.Path(), clock_};
    clsINI ini_;
};

// One message over STARTTLS: every file intact and in order, names, subject and address lists as
// meant, none able to add a header, a recipient or a command, and every line of it 7-bit and
// within 78 characters.
TEST_F(SendMailTest, ABatchArrivesIntactAsOneSevenBitMessage) {
    SmtpServer server(SmtpServer::Fault::None, {}, "starttls");
    Configure(server,
              "Security=StartTLS\r\nHelo=relay.example.org\r\nCAFile=" + server.CAFile().string(),
              "Бухгалтерия <sender@example.com>");
    // Several encoded words and RFC 2231 continuations, with 1- to 4-byte characters: a split
    // inside a character would show as a defect or a wrong name.
    const std::string name = "Отчёт за декабрь 2026 года по всем филиалам \"Север\" и Юг 😀 ёЁ.xlsx",
                      forged = "a\r\nBcc: evil@example.com\r\nX-\x01.txt",
                      shown = "a__Bcc: evil@example.com__X-_.txt",
                      ascii = "Quarterly report (2026), all branches: " + std::string(60, 'x');
    std::string big;  // every byte value, in every place of a base64 group
    for (int i = 0; i < 300000; ++i) big += static_cast<char>(i * 7 % 256);
    Drop(forged, ""), Drop(name, "abc"), Drop("report.xml", big), Drop(ascii, "");
    const std::string to =
        "Бухгалтерия <a@example.com>, b@example.com, \"Petrov, Pyotr\" <c@example.com>";
    ASSERT_EQ(Send(to + ",", {forged, name, "report.xml", ascii}, "Отчёт"), "ok");
    EXPECT_EQ(testing::LogTexts(log_.Path()), Names{"Отправка почты на: buh"});
    const auto m = server.WaitForMessages(1).at(0);
    EXPECT_EQ(m.MailFrom, "sender@example.com");
    EXPECT_EQ(m.Recipients,
              (Names{"a@example.com", "b@example.com", "c@example.com", "sender@example.com"}));
    EXPECT_EQ(
        m.Header("From") + "|" + m.Header("To") + "|" + m.Header("Subject") + "|" + m.Header("Bcc"),
        "Бухгалтерия <sender@example.com>|" + to + "|Отчёт|");  // blind copy: envelope only
    EXPECT_EQ(m.Body, "Вложения (4): \r\n" + shown + "\r\n" + name + "\r\nreport.xml\r\n" + ascii +
                          "\r\n---\r\nС уважением");
    EXPECT_TRUE(m.Attachments == (std::vector<testing::ReceivedAttachment>{
                                     {shown, "text/plain", ""},
                                     {name, m.Attachments.at(1).ContentType, "abc"},
                                     {"report.xml", "application/xml", big},
                                     {ascii, "application/octet-stream", ""}}));
    // Encoded words inside the quoted name= of Content-Type break RFC 2047 on purpose, for older
    // clients; the parser notes that and still reads them. Nothing else may be out of order.
    for (const auto& defect : m.Defects) EXPECT_EQ(defect.rfind("Content-Type: ", 0), 0u) << defect;
    std::string unfit;  // every line of the whole message within 78 characters, every byte 7-bit
    for (std::size_t at = 0, end; at < m.Raw.size(); at = end + 2) {
        end = std::min(m.Raw.find("\r\n", at), m.Raw.size());
        const std::string_view line(m.Raw.data() + at, end - at);
        if (line.size() > 78 ||
            std::any_of(line.begin(), line.end(), [](unsigned char c) { return c > 127; }))
            unfit += line;
    }
    EXPECT_EQ(unfit, "");
    EXPECT_EQ(server.Commands(),
              "EHLO\nSTARTTLS\nEHLO tls\nAUTH tls\nMAIL tls\nRCPT tls\nRCPT tls\nRCPT tls\nRCPT "
              "tls\nDATA tls\nQUIT tls\n");
    EXPECT_EQ(server.HeloNames(), "relay.example.org\nrelay.example.org\n");
}
TEST_F(SendMailTest, AnUnfitAddressIsRefusedBeforeAnyConnection) {
    SmtpServer server(SmtpServer::Fault::Stall);  // reaching it would give a timeout, not EINVAL
    Drop("a.txt", "abc");
    for (const std::string address :
         {"buh", "", "a@example.com\r\nRCPT TO:<x@example.com>", "a b@example.com",
          "a@-example.com", "Name <a@example.com", "a@example.com|from"}) {
        const bool badFrom = address == "a@example.com|from";
        Configure(server, "", badFrom ? "sender@example.com, other@example.com" : "s@example.com");
        EXPECT_EQ(Send(badFrom ? "a@example.com" : address, {"a.txt"})
                      .rfind("Error  22: invalid e-mail address", 0),
                  0u)
            << address;
    }
    EXPECT_EQ(server.Commands(), "");
}
// Each refusal names what went wrong, in the server's words where it refused; the password never
// shows, credentials never cross in clear or to a server not proven to be the one named.
TEST_F(SendMailTest, RefusalsSayWhyAndSendNothingTheyShouldNot) {
    Drop("a.txt", "abc");
    using enum SmtpServer::Fault;
    const struct {
        SmtpServer::Fault fault;
        std::string serverSecurity, security;
        bool trusted;
        std::string prefix, notSent;
    } cases[] = {
        {None, "starttls", "starttls", false,
         "Error  60: SSL certificate problem: unable to get local issuer certificate", "AUTH"},
        {None, "none", "starttls", true, "Error  64: STARTTLS not supported", "AUTH"},
        {WrongName, "tls", "tls", true,
         "Error  60: SSL: no alternative certificate subject name matches", "AUTH"},
        {EchoAuth, "none", "", false, "Error  67: Login denied (535 5.7.8)", "MAIL"},
        {NoAuth, "none", "", false, "Error  67: No login offered: ", "MAIL"},
        {RefuseData, "none", "", false,
         "Error  8: Message refused: 552 5.3.4 Message too big for this server", "RSET"},
        {RefuseRecipients, "none", "", false,
         "Error  55: RCPT failed: 550 5.1.1 Recipient address rejected", "DATA"}};
    for (const auto& c : cases) {
        SmtpServer server(c.fault, {"buh@example.com"}, c.serverSecurity);
        const std::string password = c.fault == EchoAuth ? "wrong" : "secret";
        Configure(
            server,
            "Security=" + c.security + (c.trusted ? "\r\nCAFile=" + server.CAFile().string() : ""),
            "sender@example.com", password);
        const std::string result = Send("buh@example.com", {"a.txt"});
        EXPECT_EQ(result.rfind(c.prefix, 0), 0u) << result;
        EXPECT_TRUE(result.find(password) == std::string::npos &&
                    result.find(Base64(password)) == std::string::npos)
            << result;
        EXPECT_EQ(server.Commands().find(c.notSent), std::string::npos) << server.Commands();
        EXPECT_TRUE(server.Messages().empty());
    }
    EXPECT_EQ(testing::ReadFile(log_.Path()).find("wrong"), std::string::npos);
}
// [SMTP] Timeout (2 s here) bounds every reply and every stall of the upload; the watch looks once
// a second, and a loaded machine or a sanitizer build adds more.
TEST_F(SendMailTest, AStalledServerEndsTheSendWithinItsTimeout) {
    Drop("big.bin", std::string(16 << 20, 'x'));  // more than the socket buffers take
    for (const auto fault : {SmtpServer::Fault::Stall, SmtpServer::Fault::StallInData}) {
        SmtpServer server(fault);
        Configure(server);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Send("b@example.com", {"big.bin"}).rfind("Error  28: ", 0), 0u);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4500));
        EXPECT_TRUE(server.Messages().empty());
    }
    SmtpServer slow(SmtpServer::Fault::SlowFinalReply);
    Configure(slow);
    EXPECT_EQ(Send("b@example.com", {"big.bin"}), "ok") << "a delivered message is not lost";
}

}  // namespace
}  // namespace quorvel
