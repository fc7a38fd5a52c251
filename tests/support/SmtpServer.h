#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace quorvel::testing {

struct ReceivedAttachment {
    std::string FileName, ContentType, Data;  // name decoded, "type/subtype", bytes decoded
    bool operator==(const ReceivedAttachment&) const = default;
};

// One message as the server received it, read back by Python's email package (policy.default).
struct ReceivedMessage {
    std::string MailFrom;
    std::vector<std::string> Recipients;                       // RCPT TO
    std::vector<std::pair<std::string, std::string>> Headers;  // in order, decoded
    std::string Body;                                          // the text/plain part
    std::vector<ReceivedAttachment> Attachments;
    std::vector<std::string> Defects;                          // "Header: Class: text" or "Class: text"
    std::string Raw;                                           // the DATA as received

    std::string Header(std::string_view name) const;  // the first of that name, "" when absent
    std::size_t HeaderCount(std::string_view name) const;
};

// tests/smtp_server.py in a child process on a free port of 127.0.0.1, listening once constructed.
// It requires AUTH as User() / Password(); Security "starttls" requires STARTTLS first, "tls" is
// TLS from the first byte, signed by the CA in CAFile(). A `sizeLimit` above 0 is announced as SIZE.
class SmtpServer {
public:
    enum class Fault {
        None,
        RefuseRecipients,  // the `refused` addresses get 550 at RCPT TO
        DropInData,        // closes the connection once the message data has arrived
        Stall,             // greets, then never answers
        StallInData,       // stops reading once the message data begins
        SlowFinalReply,    // answers the end of the message after 5 seconds, never answers QUIT
        HoldAtRecipients,  // holds its reply to the first RCPT TO of each message until Release()
        HoldAtData,        // holds its reply to the end of each message's data until Release()
        DeferRecipients,   // the `refused` addresses get 451 at RCPT TO
        FailFirst,         // answers the data of the first two messages with 451
        DownFirst,         // closes the first two connections at once
    };

    explicit SmtpServer(Fault fault = Fault::None, const std::vector<std::string>& refused = {},
                        const std::string& security = "none", long sizeLimit = 0);
    ~SmtpServer();
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    int Port() const { return port_; }
    std::string Password() const { return "secret"; }
    std::filesystem::path CAFile() const { return dir_ / "certs" / "ca.pem"; }
    // "[SMTP]" and Server, Port, User, Password and Timeout, each line ending CR LF.
    std::string SmtpSection(int timeoutSeconds, const std::string& password = "secret") const;
    // The verb of every command line received so far, one a line, with " tls" once encrypted.
    std::string Commands() const { return ReadFile(dir_ / "store" / "commands"); }

    // With a Hold fault: waits until the server holds its reply (false after 30 s); then lets it go.
    bool WaitUntilHeld() const;
    void Release() const;

    std::vector<ReceivedMessage> Messages() const;
    // Waits until `count` messages have arrived or `limit` has passed; returns all of them.
    std::vector<ReceivedMessage> WaitForMessages(std::size_t count,
                                                 std::chrono::milliseconds limit = std::chrono::seconds(30)) const;

private:
    std::size_t StoredCount() const;

    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace quorvel::testing
