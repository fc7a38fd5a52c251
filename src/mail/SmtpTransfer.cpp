#include "mail/SmtpTransfer.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include <curl/curl.h>

#include "base/Error.h"
#include "mail/Base64FileStream.h"
#include "mail/HeaderEncoding.h"
#include "mail/LocalChange.h"

namespace quorvel {
namespace {

// libcurl sends the message in pieces of this size; bigger pieces cost memory, smaller ones speed.
constexpr long kUploadBuffer = 256 * 1024;

struct CurlFree { void operator()(CURL* c) const { curl_easy_cleanup(c); } };
struct MimeFree { void operator()(curl_mime* m) const { curl_mime_free(m); } };
struct ListFree { void operator()(curl_slist* l) const { curl_slist_free_all(l); } };
using Curl = std::unique_ptr<CURL, CurlFree>;
using Mime = std::unique_ptr<curl_mime, MimeFree>;
using List = std::unique_ptr<curl_slist, ListFree>;

void Check(CURLcode code, const std::string& detail = "") {
    if (code != CURLE_OK) throw Error(code, curl_easy_strerror(code) + detail);
}

template <typename Value>
void Set(CURL* curl, CURLoption option, Value value) {
    Check(curl_easy_setopt(curl, option, value));
}

void Append(List& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) Check(CURLE_OUT_OF_MEMORY);
    static_cast<void>(list.release());
    list.reset(grown);
}

List MessageHeaders(const MailMessage& message) {
    const auto now = std::chrono::system_clock::now();
    List headers;
    Append(headers, "From: " + MailboxHeaderText(message.From));
    std::string to;
    for (const auto& mailbox : message.To) to += (to.empty() ? "" : ",\r\n ") + MailboxHeaderText(mailbox);
    Append(headers, "To: " + to);
    Append(headers, "Subject: " + UnstructuredHeaderValue(message.Subject, 9));
    Append(headers, "Date: " + DateHeaderValue(now));
    Append(headers, "Message-ID: " + NewMessageId(message.From.Address, now));
    Append(headers, "MIME-Version: 1.0");
    return headers;
}

// Every To address once, then the sender's own address as the blind copy.
List EnvelopeRecipients(const MailMessage& message) {
    List recipients;
    std::vector<std::string> seen;
    auto add = [&](const std::string& address) {
        if (std::find(seen.begin(), seen.end(), address) != seen.end()) return;
        seen.push_back(address);
        Append(recipients, "<" + address + ">");
    };
    for (const auto& mailbox : message.To) add(mailbox.Address);
    add(message.From.Address);
    return recipients;
}

void AddBody(curl_mime* mime, const std::string& body) {
    curl_mimepart* part = curl_mime_addpart(mime);
    if (part == nullptr) Check(CURLE_OUT_OF_MEMORY);
    Check(curl_mime_data(part, body.data(), body.size()));
    Check(curl_mime_type(part, "text/plain; charset=UTF-8"));
    Check(curl_mime_encoder(part, "base64"));
}

// libcurl's side of an attachment stream; a read failure is kept for the caller's error text,
// and whether it was a change in the mail folder rather than a read error.
struct AttachmentSource {
    Base64FileStream stream;
    std::string failure;
    bool local = false;

    static std::size_t Read(char* buffer, std::size_t size, std::size_t count, void* arg) {
        auto* source = static_cast<AttachmentSource*>(arg);
        try {
            return source->stream.Read(buffer, size * count);
        } catch (const LocalChange& e) {
            source->failure = e.what();
            source->local = true;
            return CURL_READFUNC_ABORT;
        } catch (const std::exception& e) {
            source->failure = e.what();
            return CURL_READFUNC_ABORT;
        }
    }
    static int Seek(void* arg, curl_off_t offset, int origin) {
        if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
        try {
            static_cast<AttachmentSource*>(arg)->stream.Rewind();
            return CURL_SEEKFUNC_OK;
        } catch (const std::exception&) {
            return CURL_SEEKFUNC_FAIL;
        }
    }
    static void Free(void* arg) { delete static_cast<AttachmentSource*>(arg); }
};

// An attachment part whose content is the file as base64, read from disk as the message goes out.
AttachmentSource* AddAttachment(curl_mime* mime, const MailAttachment& attachment) {
    curl_mimepart* part = curl_mime_addpart(mime);
    if (part == nullptr) Check(CURLE_OUT_OF_MEMORY);
    std::unique_ptr<AttachmentSource> source;
    try {
        source.reset(new AttachmentSource{Base64FileStream(attachment.FolderFd, *attachment.File), {}});
    } catch (const LocalChange& e) {
        throw LocalChange(CleanHeaderText(e.what()), CURLE_READ_ERROR);
    } catch (const Error& e) {
        Check(CURLE_READ_ERROR, ": " + CleanHeaderText(e.what()));
    }
    Check(curl_mime_data_cb(part, -1, &AttachmentSource::Read, &AttachmentSource::Seek, &AttachmentSource::Free,
                            source.get()));
    AttachmentSource* owned = source.release();  // freed with the part
    List headers;
    Append(headers, "Content-Type: " + attachment.ContentType + ";\r\n " + NameParameter(attachment.Name));
    Append(headers, "Content-Disposition: attachment;\r\n " + FileNameParameter(attachment.Name));
    Append(headers, "Content-Transfer-Encoding: base64");
    Check(curl_mime_headers(part, headers.get(), 1));
    static_cast<void>(headers.release());
    return owned;
}

void SetTransport(CURL* curl, const SmtpSettings& smtp) {
    Set(curl, CURLOPT_URL, smtp.Url().c_str());
    Set(curl, CURLOPT_PROTOCOLS_STR, "smtp");
    Set(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_NONE));
    Set(curl, CURLOPT_USERNAME, smtp.User.c_str());
    Set(curl, CURLOPT_PASSWORD, smtp.Password.c_str());
    Set(curl, CURLOPT_CONNECTTIMEOUT, smtp.Timeout);
    Set(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, smtp.Timeout);
    // Less than one byte a second for Timeout seconds: the server has stopped taking data.
    Set(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    Set(curl, CURLOPT_LOW_SPEED_TIME, smtp.Timeout);
    Set(curl, CURLOPT_NOSIGNAL, 1L);
    Set(curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBuffer);
}

}  // namespace

void SendOverSmtp(const MailMessage& message, const SmtpSettings& smtp) {
    Curl curl(curl_easy_init());
    if (!curl) Check(CURLE_FAILED_INIT);
    Mime mime(curl_mime_init(curl.get()));
    if (!mime) Check(CURLE_OUT_OF_MEMORY);
    AddBody(mime.get(), message.Body);
    std::vector<const AttachmentSource*> sources;
    for (const auto& attachment : message.Attachments) sources.push_back(AddAttachment(mime.get(), attachment));
    const List headers = MessageHeaders(message);
    const List recipients = EnvelopeRecipients(message);
    const std::string mailFrom = "<" + message.From.Address + ">";
    SetTransport(curl.get(), smtp);
    Set(curl.get(), CURLOPT_MAIL_FROM, mailFrom.c_str());
    Set(curl.get(), CURLOPT_MAIL_RCPT, recipients.get());
    Set(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    Set(curl.get(), CURLOPT_MIMEPOST, mime.get());
    const CURLcode sent = curl_easy_perform(curl.get());
    for (const AttachmentSource* source : sources) {
        if (source->local) throw LocalChange(CleanHeaderText(source->failure), CURLE_READ_ERROR);
        if (!source->failure.empty()) Check(CURLE_READ_ERROR, ": " + CleanHeaderText(source->failure));
    }
    Check(sent);
}

}  // namespace quorvel
