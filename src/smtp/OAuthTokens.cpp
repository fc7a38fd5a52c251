#include "smtp/OAuthTokens.h"

#include <curl/curl.h>

#include <algorithm>

#include "base/Error.h"
#include "smtp/RefreshTokenStore.h"
#include "smtp/SmtpFailure.h"
#include "smtp/TokenEndpoint.h"

namespace quorvel {
namespace {

// A token is renewed this long before it expires (at most half its life), so that it cannot
// expire between the check and the login.
constexpr std::chrono::seconds kRenewAhead{60};
// How long a token is trusted when the endpoint does not say.
constexpr std::chrono::seconds kUnsaidLife{3600};

}  // namespace

OAuthTokens::Token OAuthTokens::Get(const SmtpSettings& smtp) {
    const auto now = clock_.Now();
    if (!(smtp.OAuth == settings_)) {
        settings_ = smtp.OAuth;
        refreshToken_ = CurrentRefreshToken(smtp.IniFolder, smtp.OAuth);
        token_.clear();
    }
    if (!token_.empty() && now < renewAt_) return {token_, false};
    token_.clear();
    TokenGrant grant = RequestToken(smtp, refreshToken_);
    if (!grant.RefreshToken.empty() && !refreshToken_.empty() &&
        grant.RefreshToken != refreshToken_) {
        refreshToken_ = grant.RefreshToken;
        try {
            KeepRefreshToken(smtp.IniFolder, smtp.OAuth, refreshToken_);
        } catch (const Error& e) {
            if (warn_) warn_(e.what());
        }
    }
    const std::chrono::seconds life = grant.ExpiresIn.count() > 0 ? grant.ExpiresIn : kUnsaidLife;
    renewAt_ = now + life - std::min(kRenewAhead, life / 2);
    token_ = std::move(grant.AccessToken);
    return {token_, true};
}

void WithLogin(SmtpSettings smtp, OAuthTokens& tokens,
               const std::function<void(const SmtpSettings&)>& attempt) {
    if (smtp.Auth != SmtpAuth::OAuth2) return attempt(smtp);
    OAuthTokens::Token token = tokens.Get(smtp);
    smtp.AccessToken = token.Value;
    try {
        return attempt(smtp);
    } catch (const SmtpFailure& e) {
        if (token.Fresh || e.ReplyCode() != 535) throw;
    }
    tokens.Forget();
    smtp.AccessToken = tokens.Get(smtp).Value;
    attempt(smtp);
}

}  // namespace quorvel
