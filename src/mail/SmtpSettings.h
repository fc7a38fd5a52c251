#pragma once

#include <string>

#include "settings/clsINI.h"

namespace quorvel {

// How to reach the SMTP server: the [SMTP] section of options.ini, checked.
struct SmtpSettings {
    std::string Server;
    long Port = 0;
    std::string User;
    std::string Password;
    long Timeout = 0;  // seconds

    // smtp://Server:Port
    std::string Url() const;
};

// Reads [SMTP] Server, Port, User, Password and Timeout through `Ini`, in that order. Throws
// Error(EINVAL) with a description naming the key when Server is not a host name or address, Port
// is not a whole number from 1 to 65535, or Timeout is not a whole number of seconds from 1 to
// 86400. The password never appears in a description.
SmtpSettings ReadSmtpSettings(clsINI& Ini);

}  // namespace quorvel
