#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "support/TempDir.h"

namespace quorvel::testing {

// One attachment as the receiving side decoded it.
struct ReceivedAttachment {
    std::string FileName;     // decoded file name (RFC 2231 / RFC 2047 undone)
    std::string ContentType;  // "type/subtype", without parameters
    std::uint64_t Size = 0;   // decoded bytes
    std::string Sha256;       // of the decoded bytes, lower-case hex
};

// One message as the server received it, read back by Python's email package (policy.default).
struct ReceivedMessage {
    std::string MailFrom;                                      // envelope sender (MAIL FROM)
    std::vector<std::string> Recipients;                       // envelope recipients (RCPT TO)
    std::vector<std::pair<std::string, std::string>> Headers;  // every header in order, decoded
    std::string Body;                                          // the text/plain part, decoded
    std::vector<ReceivedAttachment> Attachments;               // in message order
    std::vector<std::string> Defects;                          // parser defects: "Header: Class: text" or "Class: text"
    std::string Raw;                                           // the DATA as received

    // The first header of that name (any letter case), "" when absent.
    std::string Header(std::string_view name) const;
    // How many headers carry that name.
    std::size_t HeaderCount(std::string_view name) const;
};

// The test SMTP server (tests/smtp_server.py) in a child process on a free port of 127.0.0.1,
// for the lifetime of this object. It requires AUTH (LOGIN or PLAIN, no TLS) with User/Password.
//
//     SmtpServer server;                       // listening when the constructor returns
//     ... send to server.Host():server.Port() as server.User() / server.Password() ...
//     auto messages = server.WaitForMessages(1);
//     EXPECT_EQ(messages[0].Header("Subject"), "report.pdf");
//
// Settings for options.ini: server.SmtpSection(timeout) gives the whole [SMTP] section.
class SmtpServer {
public:
    enum class Fault {
        None,
        RefuseRecipients,  // the addresses in Options::Refused get 550 at RCPT TO
        DropInData,        // the connection is closed once the message data has arrived
        Stall,             // greets, then never answers
    };
    struct Options {
        Fault fault = Fault::None;
        std::vector<std::string> Refused;
        std::string User = "quorvel";
        std::string Password = "secret";
    };

    SmtpServer();
    explicit SmtpServer(Options options);
    ~SmtpServer();  // stops the server
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    std::string Host() const { return "127.0.0.1"; }
    int Port() const { return port_; }
    const std::string& User() const { return options_.User; }
    const std::string& Password() const { return options_.Password; }

    // "[SMTP]" CR LF and the keys Server, Port, User, Password and Timeout, each line ending CR LF.
    std::string SmtpSection(int timeoutSeconds = 10) const;

    // Every message received so far, in order of arrival.
    std::vector<ReceivedMessage> Messages() const;

    // Waits until at least `count` messages have arrived or `limit` has passed, then returns all
    // messages received (check the size: fewer than `count` means the wait ran out).
    std::vector<ReceivedMessage> WaitForMessages(std::size_t count,
                                                 std::chrono::milliseconds limit = std::chrono::seconds(30)) const;

private:
    std::size_t StoredCount() const;

    Options options_;
    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace quorvel::testing
