#pragma once

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "base/CycleProgress.h"
#include "config/SmtpSettings.h"

namespace quorvel {

struct CurlFree {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using Curl = std::unique_ptr<CURL, CurlFree>;

// A new easy handle; throws Error when libcurl cannot make one.
Curl NewCurl();

// Throws Error(code) with libcurl's text and `detail` unless `code` is CURLE_OK.
void CheckCurl(CURLcode code, const std::string& detail = "");

template <typename Value>
void SetCurl(CURL* curl, CURLoption option, Value value) {
    CheckCurl(curl_easy_setopt(curl, option, value));
}

// What libcurl and the server said during one transfer, for the text of a failure: libcurl's
// error buffer and the server's last reply line. It also watches the transfer for stalls, bounds
// the goodbye and ends a connection on which no login would happen, from libcurl's callbacks,
// which only observe and at most ask libcurl to stop. It must outlive the transfer of its handle.
class SmtpDiagnostics {
public:
    SmtpDiagnostics() = default;
    SmtpDiagnostics(const SmtpDiagnostics&) = delete;
    SmtpDiagnostics& operator=(const SmtpDiagnostics&) = delete;

    // Throws SmtpFailure for `code`: libcurl's code, the server's reply code when it refused, and
    // a text of libcurl's words followed by the server's own where it refused something.
    [[noreturn]] void Fail(CURL* curl, CURLcode code) const;

    // Where the bytes uploaded go as they move; none by default.
    void ReportTo(CycleProgress* progress) { progress_ = progress; }

private:
    friend void ApplyTransport(CURL*, const SmtpSettings&, SmtpDiagnostics&);
    friend void PerformSmtp(CURL*, SmtpDiagnostics&);
    using Moment = std::chrono::steady_clock::time_point;
    static int Debug(CURL* curl, curl_infotype type, char* data, std::size_t size, void* arg);
    static int Watch(void* arg, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                     curl_off_t uploaded);
    static int KeepSocket(void* arg, curl_socket_t socket, curlsocktype purpose);
    void NoteCommand(std::string_view line);
    void NoteReply(std::string_view line);
    void Cut() const;
    long Refusal(CURL* curl) const;

    char errors_[CURL_ERROR_SIZE] = {};
    std::string lastReply_;
    bool goodbye_ = false;
    bool performing_ = false;
    curl_socket_t socket_ = CURL_SOCKET_BAD;
    std::chrono::seconds stallLimit_{0};
    Moment moved_;  // the last reply line, command or upload progress
    curl_off_t uploaded_ = 0;
    std::string stall_;  // why the stall watch stopped the transfer, empty while it has not
    bool loginRequired_ = false;    // a user name is set: no command may go out before a login
    bool startTlsPending_ = false;  // STARTTLS is still to come, with a greeting after it
    bool greeting_ = false;         // reading the reply to EHLO or HELO
    bool offersStartTls_ = false;   // ... which offers STARTTLS
    std::string authOffer_;         // ... and its AUTH line, empty when it has none
    bool authenticating_ = false;   // between AUTH and its last reply
    bool dataSent_ = false;         // the server asked for the message's data
    std::string
        noLogin_;  // why the connection was ended before any command, empty while it was not
    CycleProgress* progress_ = nullptr;
};

// Sets everything about reaching and entering the server on `curl`: the URL, the protection
// (STARTTLS required before AUTH, or TLS from the first byte) with the certificate and host name
// always verified against CAFile or the system's store, the user name and password (with
// Auth=oauth2 the access token, by SASL OAUTHBEARER or XOAUTH2), and Timeout
// for the connection, every reply and every stall until a message is wholly uploaded; the reply to
// the end of the message is waited for up to FinalReplyWait. The connection is closed, with a
// goodbye of about a second at most, before the transfer ends.
void ApplyTransport(CURL* curl, const SmtpSettings& smtp, SmtpDiagnostics& diagnostics);

// Runs the transfer set up on `curl`; throws SmtpFailure when it fails.
void PerformSmtp(CURL* curl, SmtpDiagnostics& diagnostics);

// Connects with the configured protection, logs in and says goodbye, sending no message. Throws
// SmtpFailure when any of it fails.
void CheckSmtpLogin(const SmtpSettings& smtp);

}  // namespace quorvel
