#pragma once

#include <string>
#include <vector>

#include "log/MailLog.h"
#include "mail/Batch.h"
#include "mail/CycleProgress.h"
#include "mail/OAuthTokens.h"
#include "settings/clsINI.h"

namespace quorvel {

// The longest name; ties keep the earlier one. "" for no names.
std::string LongestFileName(const std::vector<std::string>& Files);

// How a send ended: accepted by the server, failed (the server, the settings, a read error), or
// stopped by a change in the mail folder (a file of the batch gone, swapped or changed), which is
// no fault of the batch: it stays for a later cycle instead of going to the lost folder.
struct SendOutcome {
    enum class Kind { Sent, Failed, LocalChange };
    Kind Result = Kind::Failed;
    std::string Text;   // "ok", or the "Error" text naming the cause
    int Number = 0;     // of a failure: libcurl's code, or the errno of a failure before sending
    long ReplyCode = 0; // of a failure: the server's refusing reply code, 0 when it refused nothing
};

// Sends the files of `batch` as one message (see below), each streamed from the batch's folder
// descriptor and checked to be the file that was listed; records each file's identity at the end
// of its streaming in the batch; the bytes uploaded go to `progress` as they move. With Auth=oauth2
// the login takes its token from `tokens`. Never throws.
SendOutcome SendMail(const std::string& address, const std::string& subject, Batch& batch, clsINI& Ini,
                     const MailLog& log, OAuthTokens& tokens, CycleProgress* progress = nullptr);

// Sends every file of MailPath/folder/ named in Files as one message to `address` (one address or
// a list, see ParseAddressList) with `subject`, from [Main] Mail with a blind copy to it, the
// body listing the files and ending in [Main] Signature, through the server of [SMTP]. Settings
// are read through `Ini` at the moment of sending. Writes "Отправка почты на: " folder to the log
// first. Returns "ok" once the server accepted the message, otherwise "Error " number ": "
// description (the number with a leading blank unless negative). Nothing is sent when an address
// or a setting is unfit. An OAuth 2.0 access token is fetched for this send alone. Never throws.
std::string SendMail(const std::string& address, const std::string& subject, const std::string& folder,
                     const std::string& MailPath, const std::vector<std::string>& Files,
                     clsINI& Ini, const MailLog& log);

// "Error " number ": " description, the number written with a leading blank when it is zero or
// positive and with its minus sign when negative.
std::string SendErrorText(int number, const std::string& description);

}  // namespace quorvel
