#pragma once

#include <sys/types.h>

#include <string>
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
    std::vector<std::string> Defects;                 // "Header: Class: text" or "Class: text"
    std::string Raw;                                  // the DATA as received
    std::string Header(std::string_view name) const;  // the first of that name, "" when absent
};

// tests/smtp_server.py (which describes the faults) in a child process on a free port of 127.0.0.1,
// listening once constructed. Security "starttls" or "tls" uses a certificate signed by CAFile();
// a `sizeLimit` above 0 is announced as SIZE; `oauth` "xoauth2" or "both" adds those logins and a
// token endpoint.
class SmtpServer {
public:
    enum class Fault {
        None,
        RefuseRecipients,
        DropInData,
        Stall,
        StallInData,
        HoldAtRecipients,
        HoldAtData,
        DeferRecipients,
        EchoAuth,
        NoAuth,
        RefuseData,
        SlowFinalReply,
        WrongName
    };

    explicit SmtpServer(Fault fault = Fault::None, const std::vector<std::string>& refused = {},
                        const std::string& security = "none", long sizeLimit = 0,
                        const std::string& oauth = "none");
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
    std::string HeloNames() const { return ReadFile(dir_ / "store" / "helo"); }  // one a line
    // The token endpoint (oauth), its requests so far ("key=value ..." a line) and its mode (see
    // smtp_server.py).
    std::string TokenUrl() const {
        return "https://127.0.0.1:" +
               std::to_string(std::stoi(ReadFile(dir_ / "store" / "token-port"))) + "/token";
    }
    std::string TokenRequests() const { return ReadFile(dir_ / "store" / "token-requests"); }
    void SetTokenMode(const std::string& mode) const {
        WriteFile(dir_ / "store" / "token-mode", mode);
    }
    // Every token issued so far is refused from the next login on; the logins so far, "MECHANISM
    // ok|refused" a line.
    void RevokeTokens() const { WriteFile(dir_ / "store" / "revoke", ""); }
    std::string Logins() const { return ReadFile(dir_ / "store" / "logins"); }
    // With a Hold fault: waits until the server holds its reply (false after 30 s); then lets it
    // go.
    bool WaitUntilHeld() const;
    void Release() const { WriteFile(dir_ / "store" / "release", ""); }
    std::vector<ReceivedMessage> Messages() const;
    // Waits until `count` messages have arrived or 30 s have passed; returns all of them.
    std::vector<ReceivedMessage> WaitForMessages(std::size_t count) const;

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace quorvel::testing
