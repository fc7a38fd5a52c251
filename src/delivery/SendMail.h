#pragma once

#include <string>
#include <vector>

#include "base/CycleProgress.h"
#include "config/clsINI.h"
#include "dropfolder/Batch.h"
#include "log/MailLog.h"
#include "smtp/OAuthTokens.h"

namespace quorvel {

// The longest name; ties keep the earlier one. "" for no names.
std::string LongestFileName(const std::vector<std::string>& Files);

// How a send ended: accepted by the server, failed (the server, the settings, a read error), or
// stopped by a change in the mail folder (a file of the batch gone, swapped or changed), which is
// no fault of the batch: it stays for a later cycle instead of going to the lost folder.
struct SendOutcome {
    enum class Kind { Sent, Failed, LocalChange };
    Kind Result = Kind::Failed;
    std::string Text;  // "ok", or the "Error" text naming the cause
    int Number = 0;    // of a failure: libcurl's code, or the errno of a failure before sending
    long ReplyCode =
        0;  // of a failure: the server's refusing reply code, 0 when it refused nothing
};

// Sends the files of `batch` as one message to `address` (one address or a list, see
// ParseAddressList) with `subject`, from [Main] Mail with a blind copy to it, the body listing the
// files and ending in [Main] Signature, through the server of [SMTP]. Settings are read through
// `Ini` at the moment of sending. Writes "Отправка почты на: " folder to the log first. Each file
// is streamed from the batch's folder descriptor and checked to be the file that was listed; each
// file's identity at the end of its streaming is recorded in the batch; the bytes uploaded go to
// `progress` as they move. With Auth=oauth2 the login takes its token from `tokens`. The text of
// the outcome is "ok" once the server accepted the message, otherwise "Error " number ": "
// description. Nothing is sent when an address or a setting is unfit. Never throws.
SendOutcome SendMail(const std::string& address, const std::string& subject, Batch& batch,
                     clsINI& Ini, const MailLog& log, OAuthTokens& tokens,
                     CycleProgress* progress = nullptr);

// "Error " number ": " description, the number written with a leading blank when it is zero or
// positive and with its minus sign when negative.
std::string SendErrorText(int number, const std::string& description);

}  // namespace quorvel
