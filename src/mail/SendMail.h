#pragma once

#include <string>
#include <vector>

#include "log/MailLog.h"
#include "settings/clsINI.h"

namespace quorvel {

// The longest name; ties keep the earlier one. "" for no names.
std::string LongestFileName(const std::vector<std::string>& Files);

// Sends every file of MailPath/folder/ named in Files as one message to `address` (one address or
// a list, see ParseAddressList) with `subject`, from [Main] Mail with a blind copy to it, the
// body listing the files and ending in [Main] Signature, through the server of [SMTP]. Settings
// are read through `Ini` at the moment of sending. Writes "Отправка почты на: " folder to the log
// first. Returns "ok" once the server accepted the message, otherwise "Error " number ": "
// description (the number with a leading blank unless negative). Nothing is sent when an address
// or a setting is unfit. Never throws.
std::string SendMail(const std::string& address, const std::string& subject, const std::string& folder,
                     const std::string& MailPath, const std::vector<std::string>& Files,
                     clsINI& Ini, const MailLog& log);

// What SendMail does after its log entry, for a caller that wants the failure itself: throws Error,
// SmtpFailure (with the server's reply code) for what the transfer met.
void SendOrThrow(const std::string& address, const std::string& subject, const std::string& folder,
                 const std::string& MailPath, const std::vector<std::string>& Files, clsINI& Ini);

// "Error " number ": " description, the number written with a leading blank when it is zero or
// positive and with its minus sign when negative.
std::string SendErrorText(int number, const std::string& description);

}  // namespace quorvel
