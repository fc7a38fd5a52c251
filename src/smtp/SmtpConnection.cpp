#include "smtp/SmtpConnection.h"

#include <sys/socket.h>

#include <algorithm>

#include "base/Error.h"
#include "base/TextRules.h"
#include "base/Utf8Text.h"
#include "smtp/SmtpFailure.h"

namespace quorvel {
namespace {

// A server's reply line is kept to this many bytes in a failure text.
constexpr std::size_t kReplyLimit = 200;
// The goodbye waits about this long for the server's answer to QUIT.
constexpr std::chrono::seconds kGoodbyeWait{1};

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

// The reply code of a line and its enhanced status code (RFC 3463) when one follows, nothing else.
std::string LoginReplyCodes(std::string_view line) {
    std::string kept(line.substr(0, 3));
    if (line.size() > 4) {
        const std::string_view status = line.substr(4, line.find(' ', 4) - 4);
        if (std::count(status.begin(), status.end(), '.') == 2 &&
            status.find_first_not_of("0123456789.") == std::string_view::npos) {
            kept += " " + std::string(status);
        }
    }
    return kept;
}

std::string NoLoginText(bool offersStartTls) {
    return std::string(
               "No login offered: the server lists no AUTH in its reply to EHLO, so nothing was "
               "sent; ") +
           (offersStartTls ? "it offers STARTTLS: try [SMTP] Security=starttls"
                           : "check [SMTP] Server, Port and Security (a submission port: 587 with "
                             "starttls, 465 with tls)");
}

long CurlProtocolSecurity(SmtpSecurity security) {
    return security == SmtpSecurity::None ? CURLUSESSL_NONE : CURLUSESSL_ALL;
}

}  // namespace

Curl NewCurl() {
    Curl curl(curl_easy_init());
    if (!curl) CheckCurl(CURLE_FAILED_INIT);
    return curl;
}

void CheckCurl(CURLcode code, const std::string& detail) {
    if (code != CURLE_OK) throw Error(code, curl_easy_strerror(code) + detail);
}

// Keeps the last line of every reply up to the goodbye; nothing the client sends is kept, so the
// credentials never reach a failure text. Every reply line and command counts as movement for the
// stall watch. The goodbye's reply must not replace the reply that explains a failure, and it is
// not waited for long: after a failure the server may just have stopped answering, so the
// connection is shut at once (a system call, as libcurl must not be called from here); after a
// success the stall watch gives the answer to QUIT about a second.
int SmtpDiagnostics::Debug(CURL*, curl_infotype type, char* data, std::size_t size, void* arg) {
    auto* self = static_cast<SmtpDiagnostics*>(arg);
    std::string_view line(data, size);
    if (type == CURLINFO_HEADER_OUT || type == CURLINFO_HEADER_IN)
        self->moved_ = std::chrono::steady_clock::now();
    if (type == CURLINFO_HEADER_OUT) self->NoteCommand(line);
    if (type != CURLINFO_HEADER_IN || self->goodbye_) return 0;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    self->NoteReply(line);
    return 0;
}

void SmtpDiagnostics::NoteCommand(std::string_view line) {
    if (line.starts_with("EHLO ") || line.starts_with("HELO ")) {
        greeting_ = true;
        offersStartTls_ = false;
        authOffer_.clear();
    }
    if (line.starts_with("STARTTLS")) startTlsPending_ = false;
    if (line.starts_with("AUTH ")) authenticating_ = true;
    if (line.starts_with("QUIT")) {
        goodbye_ = true;
        if (!stall_.empty() || errors_[0] != '\0') Cut();
    }
}

// libcurl logs in only when the last greeting before the first command lists AUTH, and sends the
// mail without a login otherwise; so the connection is cut as soon as that greeting's reply ends
// without it, before libcurl can write a command. libcurl looks for "AUTH" in exactly this case.
// Lines of the login exchange may repeat the login data: of those only the reply code and the
// enhanced status code of the last one are kept.
void SmtpDiagnostics::NoteReply(std::string_view line) {
    const bool last = line.size() < 4 || line[3] != '-';
    if (authenticating_) {
        if (!last || line.starts_with("334")) return;
        authenticating_ = false;
        lastReply_ = LoginReplyCodes(line);
        return;
    }
    lastReply_ = std::string(CutAtCharacter(CleanLogText(line), kReplyLimit));
    if (line.starts_with("354")) dataSent_ = true;
    if (!greeting_) return;
    const std::string_view keyword = line.size() > 4 ? line.substr(4) : std::string_view();
    if (keyword.starts_with("AUTH"))
        authOffer_ = CutAtCharacter(CleanLogText(TrimBlanks(keyword)), kReplyLimit);
    if (SameNameAnyCase(TrimBlanks(keyword), "STARTTLS")) offersStartTls_ = true;
    if (!last) return;
    greeting_ = false;
    if (!line.starts_with("2") || !loginRequired_ || startTlsPending_ || !authOffer_.empty())
        return;
    noLogin_ = NoLoginText(offersStartTls_);
    Cut();
}

void SmtpDiagnostics::Cut() const {
    if (performing_ && socket_ != CURL_SOCKET_BAD) ::shutdown(socket_, SHUT_RDWR);
}

// libcurl's own reply timer is set to FinalReplyWait, the longest wait, for the reply to the end of
// the message (giving up early would report a delivered message as lost); this watch bounds
// everything else. It stops the transfer when neither a reply line, a command nor
// message data has moved for Timeout while the message is not yet wholly uploaded, and ends the
// goodbye after about a second.
int SmtpDiagnostics::Watch(void* arg, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                           curl_off_t uploaded) {
    auto* self = static_cast<SmtpDiagnostics*>(arg);
    const Moment now = std::chrono::steady_clock::now();
    if (uploaded != self->uploaded_) {
        self->uploaded_ = uploaded;
        self->moved_ = now;
        if (self->progress_ != nullptr) self->progress_->Uploaded(uploaded);
    }
    const auto still = now - self->moved_;
    if (self->goodbye_) return still >= kGoodbyeWait ? 1 : 0;
    if ((uploadTotal > 0 && uploaded >= uploadTotal) || still < self->stallLimit_) return 0;
    const std::string limit = std::to_string(self->stallLimit_.count()) + " seconds";
    self->stall_ = uploaded > 0 ? "the server took no data for " + limit
                                : "no reply from the server in " + limit;
    return 1;
}

int SmtpDiagnostics::KeepSocket(void* arg, curl_socket_t socket, curlsocktype) {
    static_cast<SmtpDiagnostics*>(arg)->socket_ = socket;
    return CURL_SOCKOPT_OK;
}

// The code of the server's last reply when it refused (4xx, 5xx), else 0.
long SmtpDiagnostics::Refusal(CURL* curl) const {
    long reply = 0;
    if (lastReply_.size() >= 3 && (lastReply_[0] == '4' || lastReply_[0] == '5') &&
        lastReply_.find_first_not_of("0123456789") >= 3) {
        reply = std::stol(lastReply_.substr(0, 3));
    } else if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply) != CURLE_OK || reply < 400) {
        reply = 0;
    }
    return reply;
}

void SmtpDiagnostics::Fail(CURL* curl, CURLcode code) const {
    if (!stall_.empty())
        throw SmtpFailure(CURLE_OPERATION_TIMEDOUT, 0,
                          curl_easy_strerror(CURLE_OPERATION_TIMEDOUT) + (": " + stall_));
    if (!noLogin_.empty()) throw SmtpFailure(CURLE_LOGIN_DENIED, 0, noLogin_);
    const long reply = Refusal(curl);
    std::string text =
        errors_[0] != '\0' ? std::string(errors_) : std::string(curl_easy_strerror(code));
    if (errors_[0] == '\0' && code == CURLE_LOGIN_DENIED && reply == 0) {
        text = "No usable login: the server offers none that this service can use (" + authOffer_ +
               "), so nothing was sent";
    }
    // libcurl has no words of its own for a refusal of the message after its data.
    if (errors_[0] == '\0' && code == CURLE_WEIRD_SERVER_REPLY && dataSent_ && reply != 0)
        text = "Message refused: " + std::to_string(reply);
    const std::string number = std::to_string(reply);
    if (reply != 0 && lastReply_.compare(0, number.size(), number) == 0) {
        // libcurl names the step and the code ("RCPT failed: 550"); the server adds its reason.
        const bool endsInCode = text.size() >= number.size() && text.ends_with(number);
        text += endsInCode ? lastReply_.substr(number.size()) : " (" + lastReply_ + ")";
    }
    throw SmtpFailure(code, reply, text);
}

void ApplyTransport(CURL* curl, const SmtpSettings& smtp, SmtpDiagnostics& diagnostics) {
    SetCurl(curl, CURLOPT_ERRORBUFFER, diagnostics.errors_);
    SetCurl(curl, CURLOPT_DEBUGFUNCTION, &SmtpDiagnostics::Debug);
    SetCurl(curl, CURLOPT_DEBUGDATA, &diagnostics);
    SetCurl(curl, CURLOPT_VERBOSE, 1L);  // the debug function sees the replies only when verbose
    SetCurl(curl, CURLOPT_SOCKOPTFUNCTION, &SmtpDiagnostics::KeepSocket);
    SetCurl(curl, CURLOPT_SOCKOPTDATA, &diagnostics);
    SetCurl(curl, CURLOPT_URL, smtp.Url().c_str());
    SetCurl(curl, CURLOPT_PROTOCOLS_STR, smtp.Security == SmtpSecurity::Tls ? "smtps" : "smtp");
    SetCurl(curl, CURLOPT_USE_SSL, CurlProtocolSecurity(smtp.Security));
    SetCurl(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    SetCurl(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!smtp.CAFile.empty()) SetCurl(curl, CURLOPT_CAINFO, smtp.CAFile.c_str());
    diagnostics.loginRequired_ = !smtp.User.empty();
    diagnostics.startTlsPending_ = smtp.Security == SmtpSecurity::StartTls;
    SetCurl(curl, CURLOPT_USERNAME, smtp.User.c_str());
    if (smtp.Auth == SmtpAuth::OAuth2) {
        // OAUTHBEARER where the server offers it, else XOAUTH2; never a mechanism that wants a
        // password.
        SetCurl(curl, CURLOPT_XOAUTH2_BEARER, smtp.AccessToken.c_str());
        SetCurl(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=OAUTHBEARER;AUTH=XOAUTH2");
    } else {
        SetCurl(curl, CURLOPT_PASSWORD, smtp.Password.c_str());
    }
    SetCurl(curl, CURLOPT_CONNECTTIMEOUT, smtp.Timeout);
    SetCurl(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, smtp.FinalReplyWait);
    diagnostics.stallLimit_ = std::chrono::seconds(smtp.Timeout);
    SetCurl(curl, CURLOPT_XFERINFOFUNCTION, &SmtpDiagnostics::Watch);
    SetCurl(curl, CURLOPT_XFERINFODATA, &diagnostics);
    SetCurl(curl, CURLOPT_NOPROGRESS, 0L);
    // The goodbye then happens within the transfer, where the callbacks above can bound it.
    SetCurl(curl, CURLOPT_FORBID_REUSE, 1L);
    SetCurl(curl, CURLOPT_NOSIGNAL, 1L);
    SetCurl(curl, CURLOPT_WRITEFUNCTION, &Discard);
}

void PerformSmtp(CURL* curl, SmtpDiagnostics& diagnostics) {
    diagnostics.performing_ = true;
    diagnostics.moved_ = std::chrono::steady_clock::now();
    const CURLcode code = curl_easy_perform(curl);
    diagnostics.performing_ = false;
    if (code != CURLE_OK) diagnostics.Fail(curl, code);
}

void CheckSmtpLogin(const SmtpSettings& smtp) {
    Curl curl = NewCurl();
    SmtpDiagnostics diagnostics;
    ApplyTransport(curl.get(), smtp, diagnostics);
    // A command of its own and no recipient: libcurl logs in, says NOOP, and sends no mail.
    SetCurl(curl.get(), CURLOPT_CUSTOMREQUEST, "NOOP");
    PerformSmtp(curl.get(), diagnostics);
}

}  // namespace quorvel
