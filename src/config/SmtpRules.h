#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "config/SmtpSettings.h"
#include "config/clsINI.h"

namespace quorvel {

// [SMTP] Security: "none" (also empty), "starttls" or "tls" in any letter case, blanks around it
// allowed; nullopt for anything else.
std::optional<SmtpSecurity> ParseSecurity(const std::string& text);
// The complaint about a Security value that ParseSecurity refuses; it names the key and the value.
std::string SecurityValueError(const std::string& text);

// [SMTP] Auth: "password" (also empty) or "oauth2" in any letter case, blanks around it allowed;
// nullopt for anything else.
std::optional<SmtpAuth> ParseAuth(const std::string& text);

// The complaint about an Auth value that ParseAuth refuses; it names the key and the value.
std::string AuthValueError(const std::string& text);

// What makes `oauth` unusable for Auth=oauth2: no TokenUrl, a TokenUrl that is not https, or no
// ClientId; one text per fault, each naming the key and its value and ending in CR LF; "" when fit.
std::string OAuthSettingsError(const OAuthSettings& oauth);

// [SMTP] CAFile as a path: "" when the key is empty, relative paths taken from `iniFolder`.
std::filesystem::path CAFilePath(const std::string& value, const std::filesystem::path& iniFolder);

// Reads [SMTP] Server, Port, User, Password, Timeout, Security, CAFile and Helo through `Ini`, in
// that order, then Auth and with oauth2 the keys of OAuthSettings; a relative CAFile is taken from
// the folder of Ini's file, an empty Helo is the machine's own name (DefaultHeloName). Password,
// ClientSecret and RefreshToken may come from their *File twins (see ReadSecret). FinalReplyWait
// keeps its 10 minutes: a server may take a while to queue a large message. Throws Error(EINVAL)
// with a description naming the key when Server is not a host name or address, Port is not a whole
// number from 1 to 65535, Timeout is not a whole number of seconds from 1 to 86400, or Security
// is none of its three values, Auth none of its two, or Helo is not a name to greet with. No secret
// ever appears in a description.
SmtpSettings ReadSmtpSettings(const clsINI& Ini);

// [SMTP] Timeout alone, in seconds, with the bounds of ReadSmtpSettings; nullopt when it is not
// within them.
std::optional<long> SmtpTimeoutSetting(const clsINI& Ini);

}  // namespace quorvel
