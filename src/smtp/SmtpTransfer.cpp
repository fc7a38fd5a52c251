#include "smtp/SmtpTransfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "base/Base64.h"
#include "base/Error.h"
#include "message/HeaderEncoding.h"
#include "message/LocalChange.h"
#include "smtp/SmtpConnection.h"

namespace quorvel {
namespace {

// libcurl sends the message in pieces of this size, each attachment encoded straight into it.
// Measured on loopback, plain and over TLS: 64 KiB costs more time, 1 and 2 MiB more memory
// (libcurl keeps a second buffer of twice the size for its end-of-data escape) and no time.
constexpr long kUploadBuffer = 256 * 1024;

struct MimeFree {
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};
struct ListFree {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Mime = std::unique_ptr<curl_mime, MimeFree>;
using List = std::unique_ptr<curl_slist, ListFree>;

void Append(List& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) CheckCurl(CURLE_OUT_OF_MEMORY);
    static_cast<void>(list.release());
    list.reset(grown);
}

List MessageHeaders(const MailMessage& message) {
    const auto now = std::chrono::system_clock::now();
    List headers;
    Append(headers, "From: " + MailboxHeaderText(message.From));
    std::string to;
    for (const auto& mailbox : message.To)
        to += (to.empty() ? "" : ",\r\n ") + MailboxHeaderText(mailbox);
    Append(headers, "To: " + to);
    Append(headers, "Subject: " + UnstructuredHeaderValue(message.Subject, 9));
    Append(headers, "Date: " + DateHeaderValue(now));
    Append(headers, "Message-ID: " + NewMessageId(message.From.Address, now));
    Append(headers, "MIME-Version: 1.0");
    // libcurl appends "; boundary=" and its boundary to this value; on a folded line of its own the
    // boundary keeps the header within 78 characters a line.
    Append(headers, "Content-Type: multipart/mixed\r\n ");
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
    if (part == nullptr) CheckCurl(CURLE_OUT_OF_MEMORY);
    CheckCurl(curl_mime_data(part, body.data(), body.size()));
    CheckCurl(curl_mime_type(part, "text/plain; charset=UTF-8"));
    CheckCurl(curl_mime_encoder(part, "base64"));
}

// libcurl's side of an attachment stream. A failure is kept for the caller's error text, with
// whether it was a change in the mail folder rather than a read error. The stream must deliver
// exactly the declared length: a file that shrank since it was listed would otherwise go out as a
// message that says less than it declared.
struct AttachmentSource {
    std::unique_ptr<AttachmentContent> stream;
    std::string name;  // as the recipient sees it
    std::uint64_t declared = 0;
    std::uint64_t delivered = 0;
    std::string failure;
    bool local = false;

    static std::size_t Read(char* buffer, std::size_t size, std::size_t count, void* arg) {
        auto* source = static_cast<AttachmentSource*>(arg);
        try {
            const std::size_t n = source->stream->Read(buffer, size * count);
            source->delivered += n;
            if (n == 0 && source->delivered != source->declared) {
                throw LocalChange("[" + source->name + "] shrank while it was sent");
            }
            return n;
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
            static_cast<AttachmentSource*>(arg)->stream->Rewind();
            static_cast<AttachmentSource*>(arg)->delivered = 0;
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
    if (part == nullptr) CheckCurl(CURLE_OUT_OF_MEMORY);
    std::unique_ptr<AttachmentSource> source;
    try {
        source.reset(new AttachmentSource{
            attachment.Open(), attachment.Name, Base64LinesSize(attachment.Size), 0, {}});
    } catch (const LocalChange& e) {
        throw LocalChange(CleanLogText(e.what()), CURLE_READ_ERROR);
    } catch (const Error& e) {
        CheckCurl(CURLE_READ_ERROR, ": " + CleanLogText(e.what()));
    }
    // A known length for every part lets libcurl declare the message's size (SIZE=) at MAIL FROM,
    // so a server with a smaller limit refuses before the upload instead of after it.
    CheckCurl(curl_mime_data_cb(part, static_cast<curl_off_t>(source->declared),
                                &AttachmentSource::Read, &AttachmentSource::Seek,
                                &AttachmentSource::Free, source.get()));
    AttachmentSource* owned = source.release();  // freed with the part
    List headers;
    Append(headers, HeaderLine("Content-Type", attachment.ContentType + ";") + "\r\n " +
                        NameParameter(attachment.Name));
    Append(headers, "Content-Disposition: attachment;\r\n " + FileNameParameter(attachment.Name));
    Append(headers, "Content-Transfer-Encoding: base64");
    CheckCurl(curl_mime_headers(part, headers.get(), 1));
    static_cast<void>(headers.release());
    return owned;
}

}  // namespace

void SendOverSmtp(const MailMessage& message, const SmtpSettings& smtp, CycleProgress* progress) {
    Curl curl = NewCurl();
    Mime mime(curl_mime_init(curl.get()));
    if (!mime) CheckCurl(CURLE_OUT_OF_MEMORY);
    AddBody(mime.get(), message.Body);
    std::vector<const AttachmentSource*> sources;
    for (const auto& attachment : message.Attachments)
        sources.push_back(AddAttachment(mime.get(), attachment));
    const List headers = MessageHeaders(message);
    const List recipients = EnvelopeRecipients(message);
    const std::string mailFrom = "<" + message.From.Address + ">";
    SmtpDiagnostics diagnostics;
    ApplyTransport(curl.get(), smtp, diagnostics);
    diagnostics.ReportTo(progress);
    SetCurl(curl.get(), CURLOPT_UPLOAD_BUFFERSIZE, kUploadBuffer);
    SetCurl(curl.get(), CURLOPT_MAIL_FROM, mailFrom.c_str());
    SetCurl(curl.get(), CURLOPT_MAIL_RCPT, recipients.get());
    SetCurl(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    SetCurl(curl.get(), CURLOPT_MIMEPOST, mime.get());
    try {
        PerformSmtp(curl.get(), diagnostics);
    } catch (const Error&) {
        for (const AttachmentSource* source : sources) {
            if (source->local) throw LocalChange(CleanLogText(source->failure), CURLE_READ_ERROR);
            if (!source->failure.empty())
                CheckCurl(CURLE_READ_ERROR, ": " + CleanLogText(source->failure));
        }
        throw;
    }
}

}  // namespace quorvel
