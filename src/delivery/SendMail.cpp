#include "delivery/SendMail.h"

#include <algorithm>
#include <exception>

#include "base/CurrentError.h"
#include "base/Error.h"
#include "base/Utf8Text.h"
#include "config/MainSettings.h"
#include "config/SmtpRules.h"
#include "dropfolder/Base64FileStream.h"
#include "message/AddressList.h"
#include "message/LocalChange.h"
#include "message/MailMessage.h"
#include "message/MimeTypes.h"
#include "smtp/SmtpFailure.h"
#include "smtp/SmtpTransfer.h"

namespace quorvel {
namespace {

std::vector<MailAttachment> Attachments(Batch& batch) {
    const MimeTypes types = MimeTypes::Load();
    std::vector<MailAttachment> attachments;
    for (BatchFile& file : batch.Files()) {
        const std::string shown = CleanHeaderText(file.Name);
        const int folderFd = batch.Fd();
        attachments.push_back(
            {[folderFd, &file] { return std::make_unique<Base64FileStream>(folderFd, file); },
             shown, types.ForFileName(shown), file.Listed.Size});
    }
    return attachments;
}

void Send(const std::string& address, const std::string& subject, Batch& batch, clsINI& Ini,
          OAuthTokens& tokens, CycleProgress* progress) {
    MailMessage message;
    message.To = ParseAddressList(address);
    message.From = ParseMailbox(SenderSetting(Ini));
    message.Subject = subject;
    message.Attachments = Attachments(batch);
    message.Body = MessageBody(batch.Names(), SignatureSetting(Ini));
    WithLogin(ReadSmtpSettings(Ini), tokens,
              [&](const SmtpSettings& smtp) { SendOverSmtp(message, smtp, progress); });
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
    return "Error " + std::string(number >= 0 ? " " : "") + std::to_string(number) + ": " +
           description;
}

SendOutcome SendMail(const std::string& address, const std::string& subject, Batch& batch,
                     clsINI& Ini, const MailLog& log, OAuthTokens& tokens,
                     CycleProgress* progress) {
    using Kind = SendOutcome::Kind;
    try {
        // A folder name may hold a line break; it must not forge a second log entry.
        log.WriteLog("Отправка почты на: " + CleanLogText(batch.Folder()));
        Send(address, subject, batch, Ini, tokens, progress);
        return {Kind::Sent, "ok"};
    } catch (const LocalChange& e) {
        return {Kind::LocalChange, SendErrorText(e.Number(), e.what())};
    } catch (const SmtpFailure& e) {
        return {Kind::Failed, SendErrorText(e.Number(), e.what()), e.Number(), e.ReplyCode()};
    } catch (...) {
        const Error e = CurrentError();
        return {Kind::Failed, SendErrorText(e.Number(), e.what()), e.Number()};
    }
}

}  // namespace quorvel
