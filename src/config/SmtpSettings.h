#pragma once

#include <filesystem>
#include <string>

namespace quorvel {

// How the connection to the server is protected.
enum class SmtpSecurity {
    None,      // plain SMTP
    StartTls,  // plain SMTP upgraded with STARTTLS before anything else is said; refused when not
               // offered
    Tls,       // TLS from the first byte (smtps, usually port 465)
};

// How the service logs in: with User and Password, or with an OAuth 2.0 access token for User.
enum class SmtpAuth { Password, OAuth2 };

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

}  // namespace quorvel
