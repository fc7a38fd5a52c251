#pragma once

#include <filesystem>
#include <string>

#include "config/SmtpSettings.h"

namespace quorvel {

// A refresh token that the token endpoint rotated is kept across restarts in this file in the
// folder of options.ini, readable by its owner only, with a digest of the configured refresh
// token, client and endpoint it replaces: a new RefreshToken in options.ini wins over it.
inline constexpr const char* kRefreshTokenFile = "oauth-refresh-token";

// The kept refresh token that replaces oauth.RefreshToken, or oauth.RefreshToken itself when none
// was kept for it (or the file cannot be read).
std::string CurrentRefreshToken(const std::filesystem::path& folder, const OAuthSettings& oauth);

// Keeps `rotated` as the replacement of oauth.RefreshToken: written to a new file (mode 0600),
// flushed and renamed over the old one, so a crash leaves the old or the new, never half.
// Throws Error naming the file and the reason, never the token.
void KeepRefreshToken(const std::filesystem::path& folder, const OAuthSettings& oauth,
                      const std::string& rotated);

}  // namespace quorvel
