#pragma once

#include "mail/MailMessage.h"
#include "mail/SmtpSettings.h"

namespace quorvel {

// Puts `message` on the wire with libcurl: a multipart/mixed message (the body as UTF-8 text,
// then each attachment streamed from its file and base64-encoded), sent to smtp://Server:Port
// without TLS after logging in with User and Password. The envelope goes from the From address
// to every To address and, as a blind copy, to the From address itself.
//
// Timeout bounds the connection, every server response, and any stretch of the transfer that
// moves no data, so a server that stops answering cannot hold the caller.
//
// Returns once the server accepted the message. Throws Error with libcurl's code as the number
// and its text (curl_easy_strerror) as the description, which never holds the password.
void SendOverSmtp(const MailMessage& message, const SmtpSettings& smtp);

}  // namespace quorvel
