#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "base/Clock.h"
#include "config/SmtpSettings.h"

namespace quorvel {

// The access tokens of Auth=oauth2, which live as long as the service: a token is kept in memory
// and used until shortly before it expires, then a new one is fetched from the token endpoint
// (see RequestToken). A refresh token that the endpoint rotates is used from then on and kept
// across restarts (see KeepRefreshToken). Changed OAuth settings drop the kept access token.
class OAuthTokens {
public:
    struct Token {
        std::string Value;
        bool Fresh = false;  // fetched by this call, not taken from memory
    };
    // `warn` hears what goes wrong without stopping a send (a rotated token that cannot be kept).
    explicit OAuthTokens(const Clock& clock, std::function<void(const std::string&)> warn = {})
        : clock_(clock), warn_(std::move(warn)) {}

    // A token for `smtp` (Auth=oauth2) that should still be valid. Throws SmtpFailure as
    // RequestToken does.
    Token Get(const SmtpSettings& smtp);
    // Drops the token in memory: the server refused it.
    void Forget() { token_.clear(); }

private:
    const Clock& clock_;
    std::function<void(const std::string&)> warn_;
    OAuthSettings settings_;
    std::string refreshToken_;  // the one to present next
    std::string token_;
    std::chrono::system_clock::time_point renewAt_{};
};

// Runs `attempt` (a connection to the server) with `smtp`. With Auth=oauth2 it first gets an
// access token from `tokens`; when the server refuses a token from memory with 535, the token is
// fetched once more and `attempt` runs once again. Throws what `attempt` or the token endpoint
// throw.
void WithLogin(SmtpSettings smtp, OAuthTokens& tokens,
               const std::function<void(const SmtpSettings&)>& attempt);

}  // namespace quorvel
