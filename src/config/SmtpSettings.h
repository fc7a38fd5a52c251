#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "config/clsINI.h"

namespace quorvel {

// How the connection to the server is protected.
enum class SmtpSecurity {
    None,      // plain SMTP
    StartTls,  // plain SMTP upgraded with STARTTLS before anything else is said; refused when not
               // offered
    Tls,       // TLS from the first byte (smtps, usually port 465)
};

// [SMTP] Security: "none" (also empty), "starttls" or "tls" in any letter case, blanks around it
// allowed; nullopt for anything else.
std::optional<SmtpSecurity> ParseSecurity(const std::string& text);
// The complaint about a Security value that ParseSecurity refuses; it names the key and the value.
std::string SecurityValueError(const std::string& text);

// How the service logs in: with User and Password, or with an OAuth 2.0 access token for User.
enum class SmtpAuth { Password, OAuth2 };

// [SMTP] Auth: "password" (also empty) or "oauth2" in any letter case, blanks around it allowed;
// nullopt for anything else.
std::optional<SmtpAuth> ParseAuth(const std::string& text);

// Where the access tokens come from with Auth=oauth2: the provider's token endpoint and the
// application registered there. With a refresh token the refresh-token grant, without one the
// client-credentials grant.
struct OAuthSettings {
    std::string TokenUrl;  // https only
    std::string ClientId;
    std::string ClientSecret;  // may be empty for a public client with a refresh token
    std::string Scope;         // optional
    std::string RefreshToken;  // as configured; a rotated one replaces it (see OAuthTokens)
    bool operator==(const OAuthSettings&) const = default;
};

// The complaint about an Auth value that ParseAuth refuses; it names the key and the value.
std::string AuthValueError(const std::string& text);

// What makes `oauth` unusable for Auth=oauth2: no TokenUrl, a TokenUrl that is not https, or no
// ClientId; one text per fault, each naming the key and its value and ending in CR LF; "" when fit.
std::string OAuthSettingsError(const OAuthSettings& oauth);

// [SMTP] CAFile as a path: "" when the key is empty, relative paths taken from `iniFolder`.
std::filesystem::path CAFilePath(const std::string& value, const std::filesystem::path& iniFolder);

// How to reach the SMTP server: the [SMTP] section of options.ini, checked.
struct SmtpSettings {
    std::string Server;
    long Port = 0;
    std::string User;
    std::string Password;
    long Timeout = 0;           // seconds
    long FinalReplyWait = 600;  // seconds the reply to the end of the message may take
    SmtpSecurity Security = SmtpSecurity::None;
    std::filesystem::path CAFile;  // PEM file of the trusted CAs; empty: the system's store
    std::string Helo;              // the name sent with EHLO
    SmtpAuth Auth = SmtpAuth::Password;
    OAuthSettings OAuth;
    std::filesystem::path
        IniFolder;  // the folder of options.ini, where a rotated refresh token is kept
    std::string
        AccessToken;  // with Auth=oauth2: the token to log in with, set just before a connection

    // smtp://Server:Port/Helo, or smtps://... for Security=tls; libcurl greets with the path
    std::string Url() const;
};

// Reads [SMTP] Server, Port, User, Password, Timeout, Security, CAFile and Helo through `Ini`, in
// that order, then Auth and with oauth2 the keys of OAuthSettings; a relative CAFile is taken from
// the folder of Ini's file, an empty Helo is the machine's own name (DefaultHeloName). Password,
// ClientSecret and RefreshToken may come from their *File twins (see ReadSecret). FinalReplyWait
// keeps its 10 minutes: a server may take a while to queue a large message. Throws Error(EINVAL)
// with a description naming the key when Server is not a host name or address, Port is not a whole
// number from 1 to 65535, Timeout is not a whole number of seconds from 1 to 86400, or Security
// is none of its three values, Auth none of its two, or Helo is not a name to greet with. No secret
// ever appears in a description.
SmtpSettings ReadSmtpSettings(clsINI& Ini);

}  // namespace quorvel
