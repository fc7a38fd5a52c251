#include "mail/SendMail.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <new>
#include <optional>

#include "base/Error.h"
#include "mail/AddressList.h"
#include "mail/HeaderEncoding.h"
#include "mail/LocalChange.h"
#include "mail/MailMessage.h"
#include "mail/MimeTypes.h"
#include "mail/SmtpFailure.h"
#include "mail/SmtpSettings.h"
#include "mail/SmtpTransfer.h"

namespace quorvel {
namespace {

std::vector<MailAttachment> Attachments(Batch& batch) {
    const MimeTypes types = MimeTypes::Load();
    std::vector<MailAttachment> attachments;
    for (BatchFile& file : batch.Files()) {
        const std::string shown = CleanHeaderText(file.Name);
        attachments.push_back({batch.Fd(), &file, shown, types.ForFileName(shown), file.Listed.Size});
    }
    return attachments;
}

void Send(const std::string& address, const std::string& subject, Batch& batch, clsINI& Ini) {
    MailMessage message;
    message.To = ParseAddressList(address);
    message.From = ParseMailbox(Ini.ReadINI("Mail", "Main"));
    message.Subject = subject;
    message.Attachments = Attachments(batch);
    message.Body = MessageBody(batch.Names(), Ini.ReadINI("Signature", "Main"));
    SendOverSmtp(message, ReadSmtpSettings(Ini));
}

// Length in characters, not bytes: a Cyrillic name is as long as it looks.
std::size_t CharacterCount(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

std::string LongestFileName(const std::vector<std::string>& Files) {
    std::string best;
    std::size_t bestLength = 0;
    for (const auto& name : Files) {
        const std::size_t length = CharacterCount(name);
        if (length > bestLength) {
            best = name;
            bestLength = length;
        }
    }
    return best;
}

std::string SendErrorText(int number, const std::string& description) {
    return "Error " + std::string(number >= 0 ? " " : "") + std::to_string(number) + ": " + description;
}

SendOutcome SendMail(const std::string& address, const std::string& subject, Batch& batch, clsINI& Ini,
                     const MailLog& log) {
    using Kind = SendOutcome::Kind;
    try {
        // A folder name may hold a line break; it must not forge a second log entry.
        log.WriteLog("Отправка почты на: " + CleanHeaderText(batch.Folder()));
        Send(address, subject, batch, Ini);
        return {Kind::Sent, "ok"};
    } catch (const LocalChange& e) {
        return {Kind::LocalChange, SendErrorText(e.Number(), e.what())};
    } catch (const SmtpFailure& e) {
        return {Kind::Failed, SendErrorText(e.Number(), e.what()), e.Number(), e.ReplyCode()};
    } catch (const Error& e) {
        return {Kind::Failed, SendErrorText(e.Number(), e.what()), e.Number()};
    } catch (const std::bad_alloc&) {
        return {Kind::Failed, SendErrorText(ENOMEM, "out of memory")};
    } catch (const std::exception& e) {
        return {Kind::Failed, SendErrorText(0, e.what())};
    }
}

std::string SendMail(const std::string& address, const std::string& subject, const std::string& folder,
                     const std::string& MailPath, const std::vector<std::string>& Files,
                     clsINI& Ini, const MailLog& log) {
    std::optional<Batch> batch;
    try {
        batch = Batch::OpenPath(MailPath + "/" + folder);
    } catch (const Error& e) {
        return SendErrorText(e.Number(), e.what());
    }
    if (!batch) return SendErrorText(ENOENT, "cannot list " + CleanHeaderText(MailPath + "/" + folder));
    for (const std::string& name : Files) batch->Add(name);
    return SendMail(address, subject, *batch, Ini, log).Text;
}

}  // namespace quorvel
