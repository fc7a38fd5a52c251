#include "delivery/SendMail.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <sstream>

#include "base/Base64.h"
#include "base/Error.h"
#include "config/SmtpRules.h"
#include "config/StartupRules.h"
#include "dropfolder/Base64FileStream.h"
#include "message/HeaderEncoding.h"
#include "smtp/FailureKind.h"
#include "smtp/SmtpConnection.h"
#include "smtp/SmtpTransfer.h"
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
                   const std::string& signature = "S", const std::string& password = "secret") {
        WriteOptions("[Main]\r\nMail=" + mail + "\r\nSignature=" + signature + "\r\n" +
                     server.SmtpSection(2, password) + smtp);
    }
    void WriteOptions(const std::string& text) {
        testing::WriteFile(dir_ / "options.ini", text);
        ini_.FileName(dir_ / "options.ini");
    }
    void Drop(const std::string& name, std::string_view content) {
        testing::WriteFile(dir_ / "mail/buh" / name, content);
    }
    std::string Send(const std::string& address, const Names& files,
                     const std::string& subject = "") {
        std::optional<Batch> batch = Batch::OpenPath(dir_ / "mail/buh");
        for (const std::string& name : files) batch->Add(name);
        OAuthTokens tokens(clock_);
        return SendMail(address, subject.empty() ? LongestFileName(files) : subject, *batch, ini_,
                        log_, tokens)
            .Text;
    }

    testing::TempDir dir_;
    SystemClock clock_;
    MailLog log_{dir_.Path(), clock_};
    clsINI ini_;
};

TEST_F(SendMailTest, BatchArrivesOverStartTlsWithHeadersBodyEnvelopeAndAttachmentsInOrder) {
    SmtpServer server(SmtpServer::Fault::None, {}, "starttls", 10000000);
    Configure(server, "Security=StartTLS\r\nCAFile=" + server.CAFile().string());
    std::string big;  // every byte value, in every place of a base64 group
    for (int i = 0; i < 300000; ++i) big += static_cast<char>(i * 7 % 256);
    Drop("b.pdf", "abc"), Drop("report.xml", big), Drop("README", "");
    ASSERT_EQ(Send("buh@example.com", {"b.pdf", "report.xml", "README"}, "Отчёт"), "ok");
    EXPECT_EQ(testing::LogTexts(log_.Path()), Names{"Отправка почты на: buh"});
    const auto m = server.WaitForMessages(1).at(0);
    EXPECT_EQ(m.MailFrom, "sender@example.com");
    EXPECT_EQ(m.Recipients, (Names{"buh@example.com", "sender@example.com"}));
    EXPECT_EQ(m.Header("From") + "|" + m.Header("To") + "|" + m.Header("Subject") + "|" +
                  m.Header("MIME-Version") + "|" + m.Header("Bcc") + m.Header("Cc"),
              "sender@example.com|buh@example.com|Отчёт|1.0|");  // blind copy: envelope only
    EXPECT_TRUE(!m.Header("Date").empty() && m.Header("Message-ID").ends_with("@example.com>"))
        << m.Header("Message-ID");
    EXPECT_EQ(m.Body, "Вложения (3): \r\nb.pdf\r\nreport.xml\r\nREADME\r\n---\r\nS");
    EXPECT_TRUE(m.Attachments == (std::vector<testing::ReceivedAttachment>{
                                     {"b.pdf", "application/pdf", "abc"},
                                     {"report.xml", "application/xml", big},
                                     {"README", "application/octet-stream", ""}}));
    EXPECT_TRUE(m.Defects.empty());
    EXPECT_TRUE(std::all_of(m.Raw.begin(), m.Raw.end(), [](unsigned char c) { return c < 128; }))
        << "a short subject too";
    EXPECT_EQ(
        server.Commands(),
        "EHLO\nSTARTTLS\nEHLO tls\nAUTH tls\nMAIL tls\nRCPT tls\nRCPT tls\nDATA tls\nQUIT tls\n");
}
// Names, subject and address lists arrive as meant and cannot add a header, a recipient or a
// command.
TEST_F(SendMailTest, NamesAndAddressListsArriveIntactAndAddNothing) {
    SmtpServer server;
    // Several encoded words and RFC 2231 continuations, with 1- to 4-byte characters: a split
    // inside a character would show as a defect or a wrong name.
    const std::string name = "Отчёт за декабрь 2026 года по всем филиалам \"Север\" и Юг 😀 ёЁ.xlsx";
    const std::string forged = "a\r\nBcc: evil@example.com\r\nX-\x01.txt",
                      shown = "a__Bcc: evil@example.com__X-_.txt";
    const std::string signature = "С уважением, бухгалтерия",
                      ascii =
                          "Quarterly report (2026), all branches: " + std::string(60, 'x') + ".txt";
    Configure(server, "", "Бухгалтерия <sender@example.com>", signature);
    Drop(name, "abc"), Drop(forged, ""), Drop(ascii, "");
    ASSERT_EQ(Send("Бухгалтерия <a@example.com>; b@example.com, \"Petrov, Pyotr Petrovich, chief "
                   "accountant of the North branch\" <c@example.com>,",
                   {forged, name, ascii}, forged + name),
              "ok");
    const auto m = server.WaitForMessages(1).at(0);
    EXPECT_EQ(m.Recipients,
              (Names{"a@example.com", "b@example.com", "c@example.com", "sender@example.com"}));
    EXPECT_EQ(m.Header("To"),
              "Бухгалтерия <a@example.com>, b@example.com, \"Petrov, Pyotr Petrovich, chief "
              "accountant of the North branch\" <c@example.com>");
    EXPECT_EQ(m.Header("From") + m.Header("Bcc"), "Бухгалтерия <sender@example.com>");
    EXPECT_EQ(m.Header("Subject"), shown + name);
    EXPECT_EQ(m.Body, "Вложения (3): \r\n" + shown + "\r\n" + name + "\r\n" + ascii +
                          "\r\n---\r\n" + signature);
    EXPECT_TRUE(m.Attachments == (std::vector<testing::ReceivedAttachment>{
                                     {shown, "text/plain", ""},
                                     {name, m.Attachments.at(1).ContentType, "abc"},
                                     {ascii, "text/plain", ""}}));
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
}
TEST_F(SendMailTest, UnfitAddressOrSettingIsRefusedBeforeAnyConnection) {
    SmtpServer server(SmtpServer::Fault::Stall);  // reaching it would give a timeout, not EINVAL
    Drop("a.txt", "abc");
    for (const std::string address :
         {"buh", "", "a@example.com\r\nRCPT TO:<x@example.com>", "a b@example.com",
          "a@-example.com", "Name <a@example.com", "a@example.com|from"}) {
        const bool badFrom = address == "a@example.com|from";
        Configure(server, "",
                  badFrom ? "sender@example.com, other@example.com" : "sender@example.com");
        EXPECT_EQ(Send(badFrom ? "a@example.com" : address, {"a.txt"})
                      .rfind("Error  22: invalid e-mail address", 0),
                  0u)
            << address;
    }
    for (const auto& [smtp, error] : std::vector<std::pair<std::string, std::string>>{
             {"Server=127.0.0.1\r\nPort=25\r\nTimeout=1.5",
              "Timeout is not a whole number from 1 to 86400: \"1.5\""},
             {"Server=u:p@host/x", "Server is not a host name or address: \"u:p@host/x\""},
             {"Server=h\r\nPort=1\r\nTimeout=2\r\nSecurity=ssl",
              "Security is not none, starttls or tls: \"ssl\""}}) {
        WriteOptions("[Main]\r\nMail=s@example.com\r\n[SMTP]\r\n" + smtp + "\r\n");
        EXPECT_EQ(Send("a@example.com", {"a.txt"}), "Error  22: [SMTP] " + error);
    }
    EXPECT_EQ(server.Commands(), "");
}
// Each refusal names what went wrong, in the server's words where it refused; the password never
// shows, credentials never cross in clear, and a refused size sends no message data.
TEST_F(SendMailTest, RefusalsSayWhyAndSendNothingTheyShouldNot) {
    Drop("a.txt", "abc"), Drop("big.bin", std::string(1000000, 'x'));
    using enum SmtpServer::Fault;
    const struct {
        SmtpServer::Fault fault;
        std::string serverSecurity, security;
        bool trusted;
        std::string password, prefix, notSent;
        long sizeLimit;
    } cases[] = {
        {None, "starttls", "starttls", false, "secret",
         "Error  60: SSL certificate problem: unable to get local issuer certificate", "AUTH", 0},
        {None, "none", "starttls", true, "secret", "Error  64: STARTTLS not supported", "AUTH", 0},
        {WrongName, "tls", "tls", true, "secret",
         "Error  60: SSL: no alternative certificate subject name matches", "AUTH", 0},
        {None, "starttls", "none", false, "secret",
         "Error  67: No login offered: the server lists no AUTH in its reply to EHLO, "
         "so nothing was sent; it offers STARTTLS: try [SMTP] Security=starttls",
         "MAIL", 0},
        {NoAuth, "starttls", "starttls", true, "secret",
         "Error  67: No login offered: the server lists no AUTH in its reply to EHLO, "
         "so nothing was sent; check [SMTP] Server",
         "MAIL", 0},
        {BareAuth, "none", "", false, "secret",
         "Error  67: No usable login: the server offers none that this service can use (AUTH)",
         "MAIL", 0},
        {EchoAuth, "none", "", false, "wrong", "Error  67: Login denied (535 5.7.8)", "MAIL", 0},
        {RefuseRecipients, "none", "", false, "secret",
         "Error  55: RCPT failed: 550 5.1.1 Recipient address rejected", "DATA", 0},
        {None, "starttls", "starttls", true, "secret", "Error  55: MAIL failed: 552 ", "DATA",
         100000},
        {DropInData, "none", "", false, "secret", "Error  ", "\n\n", 0},
        {RefuseData, "none", "", false, "secret",
         "Error  8: Message refused: 552 5.3.4 Message too big for this server", "\n\n", 0}};
    for (const auto& c : cases) {
        SmtpServer server(c.fault, {"buh@example.com"}, c.serverSecurity, c.sizeLimit);
        Configure(
            server,
            "Security=" + c.security + (c.trusted ? "\r\nCAFile=" + server.CAFile().string() : ""),
            "sender@example.com", "S", c.password);
        const std::string result = Send("buh@example.com", {"a.txt", "big.bin"});
        EXPECT_EQ(result.rfind(c.prefix, 0), 0u) << result;
        EXPECT_TRUE(result.find(c.password) == std::string::npos &&
                    result.find(Base64(c.password)) == std::string::npos)
            << result;
        EXPECT_EQ(server.Commands().find(c.notSent), std::string::npos) << result << "\n"
                                                                        << server.Commands();
        EXPECT_TRUE(server.Messages().empty());
    }
    SmtpServer normal;
    Configure(normal);
    EXPECT_EQ(Send("buh@example.com", {"a.txt", "gone.txt"}).rfind("Error  26: [gone.txt] ", 0),
              0u);
    EXPECT_EQ(testing::ReadFile(log_.Path()).find("secret"), std::string::npos);
}
// Timeout (2 s) bounds every reply and every stall of the upload; the reply to the end of the
// message has FinalReplyWait, and the goodbye after it about a second. Correctness bounds, not
// speed.
TEST_F(SendMailTest, AStalledServerEndsTheSendWithinItsTimeout) {
    Drop("big.bin", std::string(16 << 20, 'x')),
        Drop("a.txt", "abc");  // more than the socket buffers take
    std::optional<Batch> batch = Batch::OpenPath(dir_ / "mail/buh");
    batch->Add("big.bin"), batch->Add("a.txt");
    using enum SmtpServer::Fault;
    const struct {
        SmtpServer::Fault fault;
        long finalWait;
        int number;
        long bound;
    } cases[] = {// Timeout is 2 s; the watch looks once a second, and a loaded machine or a
                 // sanitizer build adds more.
                 {Stall, 600, 28, 4500},
                 {StallInData, 600, 28, 4500},
                 {SlowFinalReply, 600, 0, 10000},
                 {SlowFinalReply, 3, 28, 4900}};
    for (const auto& c : cases) {
        SmtpServer server(c.fault);
        Configure(server);
        MailMessage message{
            ParseMailbox("s@example.com"), ParseAddressList("b@example.com"), "s", "body", {}};
        const bool big = c.fault == StallInData;
        BatchFile& file = batch->Files()[big ? 0 : 1];
        message.Attachments.push_back(
            {[&] { return std::make_unique<Base64FileStream>(batch->Fd(), file); }, "f",
             "text/plain", big ? 16u << 20 : 3u});
        SmtpSettings settings = ReadSmtpSettings(ini_);
        EXPECT_EQ(settings.FinalReplyWait, 600);
        settings.FinalReplyWait = c.finalWait;
        const auto start = std::chrono::steady_clock::now();
        int number = 0;
        try {
            SendOverSmtp(message, settings);
        } catch (const Error& e) {
            number = e.Number();
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        EXPECT_EQ(number, c.number) << c.finalWait;
        EXPECT_LT(took.count(), c.bound) << c.finalWait;
        EXPECT_EQ(server.Messages().size(), c.number == 0 ? 1u : 0u);
    }
}
// The login check over implicit TLS sends nothing and greets with Helo; the start-up check finds
// the [SMTP] keys that only a send would otherwise find bad, secrets among them (a key with its
// *File twin, a file that cannot be read).
TEST_F(SendMailTest, LoginCheckAndBadSecurityCAFileOrRetryKeys) {
    SmtpServer server(SmtpServer::Fault::None, {}, "tls");
    testing::WriteFile(dir_ / "ca.pem", testing::ReadFile(server.CAFile()));
    Configure(server, "Security=tls\r\nCAFile=ca.pem\r\nHelo=[IPv6:::1]");  // relative to the
                                                                            // folder of options.ini
    EXPECT_NO_THROW(CheckSmtpLogin(ReadSmtpSettings(ini_)));
    EXPECT_EQ(server.Commands(), "EHLO tls\nAUTH tls\nNOOP tls\nQUIT tls\n");
    EXPECT_EQ(server.HeloNames(), "[IPv6:::1]\n");
    const std::string retryFor = "Неверно задано время повторных попыток: [SMTP] RetryFor = \"";
    for (const auto& [smtp, error] : std::vector<std::pair<std::string, std::string>>{
             {"Security=TLS\r\nCAFile=ca.pem\r\nRetryFor=604800\r\nRetryDelay=1\r\nHelo=mx-1."
              "example.com\r\n[Main]\r\nQuietSeconds=3600",
              ""},
             {"Security= none \r\nRetryFor=0\r\nRetryDelay=86400\r\nHelo=[192.0.2.1]", ""},
             {"Helo=mail_1.example.com",
              "[SMTP] Helo is not a domain or an address literal: \"mail_1.example.com\"\r\n"},
             {"Helo=a.-b", "[SMTP] Helo is not a domain or an address literal: \"a.-b\"\r\n"},
             {"CAFile=options.ini", "[SMTP] CAFile holds no certificate: \"options.ini\" (" +
                                        (dir_ / "options.ini").string() + ")\r\n"},
             {"Security=ssl", "[SMTP] Security is not none, starttls or tls: \"ssl\"\r\n"},
             {"CAFile=gone.pem", "[SMTP] CAFile cannot be read: \"gone.pem\" (" +
                                     (dir_ / "gone.pem").string() +
                                     ": No such file or directory)\r\n"},
             {"RetryFor=604801", retryFor + "604801\" (0..604800)\r\n"},
             {"RetryDelay=0\r\nRetryFor=-1", retryFor + "-1\" (0..604800)\r\n"
                                                        "Неверно задан интервал повторных попыток: "
                                                        "[SMTP] RetryDelay = \"0\" (1..86400)\r\n"},
             {"RetryDelay=1.5",
              "Неверно задан интервал повторных попыток: [SMTP] RetryDelay = \"1.5\" "
              "(1..86400)\r\n"},
             {"Auth=kerberos", "[SMTP] Auth is not password or oauth2: \"kerberos\"\r\n"},
             {"Auth= OAuth2 \r\nClientId=c\r\nTokenUrl=HTTPS://x/t\r\nClientSecretFile=ca.pem", ""},
             {"Auth=oauth2\r\nTokenUrl=http://x/t",
              "[SMTP] TokenUrl = \"http://x/t\": not an https address\r\n"
              "[SMTP] ClientId = \"\": Auth=oauth2 needs the client ID\r\n"},
             {"Auth=oauth2\r\nClientId=c",
              "[SMTP] TokenUrl = \"\": Auth=oauth2 needs the token endpoint of the provider\r\n"},
             {"Password=p\r\nPasswordFile=ca.pem\r\nClientSecretFile=credential:"
              "x\r\nRefreshTokenFile=gone.txt",
              "[SMTP] Password and PasswordFile are both given; keep one\r\n[SMTP] "
              "ClientSecretFile cannot be read: "
              "\"credential:x\" (the service was given no credentials (LoadCredential=) for "
              "\"x\")\r\n[SMTP] RefreshTokenFile "
              "cannot be read: \"gone.txt\" (" +
                  (dir_ / "gone.txt").string() + ": No such file or directory)\r\n"},
             {"[Main]\r\nQuietSeconds=3601",
              "Неверно задано время покоя файла: [Main] QuietSeconds = \"3601\" (0..3600)\r\n"}}) {
        WriteOptions("[SMTP]\r\n" + smtp + "\r\n");
        EXPECT_EQ(CheckStartupRules(ini_, dir_.Path()), error) << smtp;
    }
}
TEST(SendMailText, LongestNameErrorNumbersAndHeaderEdges) {
    EXPECT_EQ(MailboxHeaderText({" Anna ", "a@b.c"}), "\" Anna \" <a@b.c>")
        << "blanks kept inside quotes";
    EXPECT_LE(EncodeWords(std::string(60, 'a'), 0).find("\r\n"), 75u)
        << "no word over 75 characters";
    std::istringstream from(
        "From: " + MailboxHeaderText({"Анна Каренина Аркадьевна", std::string(40, 'a') + "@b.c"}) +
        "\nSubject: " + UnstructuredHeaderValue(std::string(90, 'a'), 9));
    for (std::string line; std::getline(from, line);)
        EXPECT_LE(line.size(), 77u) << line;  // 76 and the CR
    EXPECT_EQ(LongestFileName({}), "");
    EXPECT_EQ(LongestFileName({"ab.pdf", "cd.txt", "e.doc"}), "ab.pdf");
    EXPECT_EQ(LongestFileName({"абвгдеж.txt", "abcdefghijklm.txt"}), "abcdefghijklm.txt")
        << "characters, not bytes";
    EXPECT_EQ(SendErrorText(67, "Login denied") + SendErrorText(0, "x") + SendErrorText(-5, "x"),
              "Error  67: Login deniedError  0: xError -5: x");
}
TEST(Retry, FailuresAreSortedByTheServersReplyFirst) {
    const struct {
        int curl;
        long reply;
        FailureKind kind;
    } cases[] = {
        {CURLE_WEIRD_SERVER_REPLY, 451, FailureKind::Passing},
        {CURLE_SEND_ERROR, 452, FailureKind::Passing},
        {CURLE_WEIRD_SERVER_REPLY, 552, FailureKind::Lasting},
        {CURLE_LOGIN_DENIED, 535, FailureKind::Lasting},
        {CURLE_COULDNT_CONNECT, 0, FailureKind::Passing},
        {CURLE_COULDNT_RESOLVE_HOST, 0, FailureKind::Passing},
        {CURLE_OPERATION_TIMEDOUT, 0, FailureKind::Passing},
        {CURLE_RECV_ERROR, 0, FailureKind::Passing},
        {CURLE_PEER_FAILED_VERIFICATION, 0, FailureKind::Lasting},
        {CURLE_READ_ERROR, 0, FailureKind::Lasting},
        {EINVAL, 0, FailureKind::Lasting},  // an invalid address, refused before connecting
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassifyFailure(c.curl, c.reply), c.kind) << c.curl << " " << c.reply;
}
// Streamed in small reads, a batch holds one file open at a time.
TEST(Base64, FilesStreamInSmallReadsOneOpenAtATime) {
    testing::TempDir dir;
    std::string data;
    for (int i = 0; i < 500000; ++i) data += static_cast<char>(i * 7 % 251);
    for (int i = 0; i < 300; ++i)
        testing::WriteFile(dir / std::to_string(i), i == 0 ? data : i % 2 ? "" : "data");
    std::optional<Batch> batch = Batch::OpenPath(dir.Path());
    for (int i = 0; i < 300; ++i) batch->Add(std::to_string(i));
    const auto OpenDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = OpenDescriptors();
    std::vector<Base64FileStream> streams;
    for (int i = 0; i < 300; ++i) streams.emplace_back(batch->Fd(), batch->Files()[i]);
    char piece[1000];
    std::string streamed;
    for (auto& stream : streams) {
        for (std::size_t n; (n = stream.Read(piece, sizeof piece)) > 0;) {
            if (&stream == &streams[0]) streamed.append(piece, n);
            EXPECT_LE(OpenDescriptors(), before + 1);
        }
    }
    EXPECT_EQ(streamed.size(), Base64LinesSize(data.size()));
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace quorvel
