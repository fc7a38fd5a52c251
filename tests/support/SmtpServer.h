#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace quorvel::testing {

// One attachment as the receiving side decoded it.
struct ReceivedAttachment {
    std::string FileName;     // decoded file name (RFC 2231 / RFC 2047 undone)
    std::string ContentType;  // "type/subtype", without parameters
    std::string Data;         // the decoded bytes
    bool operator==(const ReceivedAttachment&) const = default;
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
    std::size_t HeaderCount(std::string_view name) const;
};

// The test SMTP server (tests/smtp_server.py) in a child process on a free port of 127.0.0.1,
// listening when the constructor returns, stopped by the destructor. It requires AUTH as
// User() / Password(); with Security "starttls" it requires STARTTLS first, with "tls" it speaks
// TLS from the first byte, its certificate signed by the CA in CAFile(). A `sizeLimit` above 0 is
// announced as SIZE and enforced.
class SmtpServer {
public:
    enum class Fault {
        None,
        RefuseRecipients,  // the addresses in `refused` get 550 at RCPT TO
        DropInData,        // the connection is closed once the message data has arrived
        Stall,             // greets, then never answers
        StallAtMail,       // never answers MAIL FROM
        StallAtRcpt,       // never answers RCPT TO
        StallInData,       // stops reading once the message data begins
        SlowFinalReply,    // answers the end of the message after 5 seconds, never answers QUIT
        HoldAtRecipients,  // holds its reply to the first RCPT TO of each message until Release()
        HoldAtData,        // holds its reply to the end of the data of each message until Release()
        DeferRecipients,   // the addresses in `refused` get 451 at RCPT TO
        FailFirst,         // answers the data of the first two messages with 451
        DownFirst,         // closes the first two connections at once, as if it were down
    };

    explicit SmtpServer(Fault fault = Fault::None, const std::vector<std::string>& refused = {},
                        const std::string& security = "none", long sizeLimit = 0);
    ~SmtpServer();
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    std::string Host() const { return "127.0.0.1"; }
    int Port() const { return port_; }
    std::string User() const { return "quorvel"; }
    std::string Password() const { return "secret"; }

    std::filesystem::path CAFile() const { return dir_ / "certs" / "ca.pem"; }

    // "[SMTP]" and the keys Server, Port, User, Password and Timeout, each line ending CR LF.
    std::string SmtpSection(int timeoutSeconds, const std::string& password = "secret") const;

    // The verb of every command line received so far, one a line, with " tls" once encrypted.
    std::string Commands() const { return ReadFile(dir_ / "store" / "commands"); }

    // With a Hold fault: waits until the server holds its reply (false after a safety limit), then
    // lets it answer.
    bool WaitUntilHeld() const;
    void Release() const;

    // Every message received so far, in order of arrival.
    std::vector<ReceivedMessage> Messages() const;
    // Waits until at least `count` messages have arrived or `limit` has passed; returns them all.
    std::vector<ReceivedMessage> WaitForMessages(std::size_t count,
                                                 std::chrono::milliseconds limit = std::chrono::seconds(30)) const;

private:
    std::size_t StoredCount() const;

    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace quorvel::testing
