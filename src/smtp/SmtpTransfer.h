#pragma once

#include "base/CycleProgress.h"
#include "config/SmtpSettings.h"
#include "message/MailMessage.h"

namespace quorvel {

// Puts `message` on the wire with libcurl: a multipart/mixed message (the body as UTF-8 text,
// then each attachment streamed from its file and base64-encoded), sent to Server:Port with the
// configured protection (see ApplyTransport) after logging in with User and Password. The
// envelope goes from the From address to every To address and, as a blind copy, to the From
// address itself. The message's exact size is known beforehand and declared (SIZE=) where the
// server announces SIZE.
//
// Timeout bounds the connection, every server response before the message, and any stretch of
// the upload that moves no data, so a server that stops answering cannot hold the caller; the
// reply to the end of the message is waited for up to FinalReplyWait.
//
// The bytes uploaded go to `progress` as they move.
//
// Returns once the server accepted the message. Throws SmtpFailure (see SmtpDiagnostics::Fail),
// or Error for an attachment that cannot be read; no description holds the password.
void SendOverSmtp(const MailMessage& message, const SmtpSettings& smtp,
                  CycleProgress* progress = nullptr);

}  // namespace quorvel
