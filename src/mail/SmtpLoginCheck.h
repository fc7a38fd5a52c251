#pragma once

#include "mail/SmtpSettings.h"

namespace quorvel {

// Connects to the server of `smtp` without TLS, logs in, sends NOOP and says goodbye, sending no
// mail. Throws Error with libcurl's code as the number and its text as the description (the
// password never among them) when the server cannot be reached or refuses the login.
void CheckSmtpLogin(const SmtpSettings& smtp);

}  // namespace quorvel
