#pragma once

#include <chrono>
#include <string>

#include "config/SmtpSettings.h"

namespace quorvel {

// What the token endpoint granted: the access token, how long it holds, and the refresh token it
// issued in place of the one presented ("" when it issued none: the old one stays).
struct TokenGrant {
    std::string AccessToken;
    std::chrono::seconds ExpiresIn{0};
    std::string RefreshToken;
};

// "refresh_token" when `refreshToken` is given, otherwise "client_credentials".
std::string GrantType(const std::string& refreshToken);

// Asks the token endpoint of `smtp.OAuth` for an access token: an HTTPS POST of the grant
// (see GrantType) with the client's ID, secret and scope, the endpoint's certificate verified
// like the SMTP server's (CAFile when set), no redirect followed, Timeout for the connection and
// for the whole exchange. The reply is JSON.
//
// Throws SmtpFailure with reply code 0: with libcurl's code when the endpoint cannot be reached,
// times out or fails verification; CURLE_WEIRD_SERVER_REPLY when it answers 408, 429 or 5xx or
// with no usable token (a passing failure); CURLE_LOGIN_DENIED when it refuses the grant (any other
// answer, e.g. invalid_grant, invalid_client, unauthorized_client), with its `error` and
// `error_description`. No description holds the client secret, a refresh token or a token.
TokenGrant RequestToken(const SmtpSettings& smtp, const std::string& refreshToken);

}  // namespace quorvel
