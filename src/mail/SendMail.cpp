#include "mail/SendMail.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <new>

#include "base/Error.h"
#include "mail/AddressList.h"
#include "mail/HeaderEncoding.h"
#include "mail/MailMessage.h"
#include "mail/MimeTypes.h"
#include "mail/SmtpSettings.h"
#include "mail/SmtpTransfer.h"

namespace quorvel {
namespace {

std::vector<MailAttachment> Attachments(const std::string& MailPath, const std::string& folder,
                                        const std::vector<std::string>& Files) {
    const MimeTypes types = MimeTypes::Load();
    std::vector<MailAttachment> attachments;
    for (const auto& name : Files) {
        const std::string shown = CleanHeaderText(name);
        const std::filesystem::path path = std::filesystem::path(MailPath) / folder / name;
        std::error_code ec;  // a file that cannot be measured cannot be read either: the send says so
        const std::uintmax_t size = std::filesystem::file_size(path, ec);
        attachments.push_back({path, shown, types.ForFileName(shown), ec ? 0 : size});
    }
    return attachments;
}

}  // namespace

void SendOrThrow(const std::string& address, const std::string& subject, const std::string& folder,
                 const std::string& MailPath, const std::vector<std::string>& Files, clsINI& Ini) {
    MailMessage message;
    message.To = ParseAddressList(address);
    message.From = ParseMailbox(Ini.ReadINI("Mail", "Main"));
    message.Subject = subject;
    message.Attachments = Attachments(MailPath, folder, Files);
    message.Body = MessageBody(Files, Ini.ReadINI("Signature", "Main"));
    SendOverSmtp(message, ReadSmtpSettings(Ini));
}

namespace {

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

std::string SendMail(const std::string& address, const std::string& subject, const std::string& folder,
                     const std::string& MailPath, const std::vector<std::string>& Files,
                     clsINI& Ini, const MailLog& log) {
    try {
        // A folder name may hold a line break; it must not forge a second log entry.
        log.WriteLog("Отправка почты на: " + CleanHeaderText(folder));
        SendOrThrow(address, subject, folder, MailPath, Files, Ini);
        return "ok";
    } catch (const Error& e) {
        return SendErrorText(e.Number(), e.what());
    } catch (const std::bad_alloc&) {
        return SendErrorText(ENOMEM, "out of memory");
    } catch (const std::exception& e) {
        return SendErrorText(0, e.what());
    }
}

}  // namespace quorvel
