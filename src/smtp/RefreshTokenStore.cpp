#include "smtp/RefreshTokenStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/ContentDigest.h"
#include "base/Error.h"
#include "base/FileContents.h"
#include "base/FileDescriptor.h"

namespace quorvel {
namespace {

// Which configured refresh token, client and endpoint a kept token replaces.
std::string Replaces(const OAuthSettings& oauth) {
    DigestBuilder builder;
    for (const std::string* part : {&oauth.RefreshToken, &oauth.ClientId, &oauth.TokenUrl}) {
        builder.Add(part->data(), part->size());
        builder.Add("", 1);
    }
    const ContentDigest digest = builder.Finish();
    char hex[33];
    std::snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(digest.High),
                  static_cast<unsigned long long>(digest.Low));
    return hex;
}

void WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) throw SystemError("write");
        done += static_cast<std::size_t>(wrote);
    }
}

}  // namespace

std::string CurrentRefreshToken(const std::filesystem::path& folder, const OAuthSettings& oauth) {
    std::optional<std::string> text;
    try {
        text = ReadFileIfPresent(folder / kRefreshTokenFile);
    } catch (const Error&) {
        // Unreadable: the configured token is all there is.
    }
    if (!text) return oauth.RefreshToken;
    const nlohmann::json kept = nlohmann::json::parse(*text, nullptr, false);
    if (!kept.is_object() || kept.value("replaces", "") != Replaces(oauth))
        return oauth.RefreshToken;
    const std::string token = kept.value("refresh_token", "");
    return token.empty() ? oauth.RefreshToken : token;
}

void KeepRefreshToken(const std::filesystem::path& folder, const OAuthSettings& oauth,
                      const std::string& rotated) {
    const std::filesystem::path path = folder / kRefreshTokenFile;
    std::string temporary = (folder / ("." + std::string(kRefreshTokenFile) + ".XXXXXX")).string();
    try {
        FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));  // mode 0600
        if (!fd.Valid()) throw SystemError("create");
        const nlohmann::json kept = {{"replaces", Replaces(oauth)}, {"refresh_token", rotated}};
        WriteAll(fd.Get(), kept.dump() + "\n");
        if (::fsync(fd.Get()) != 0) throw SystemError("fsync");
        if (::rename(temporary.c_str(), path.c_str()) != 0) throw SystemError("rename");
        FileDescriptor parent(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.Valid()) ::fsync(parent.Get());
    } catch (const Error& e) {
        ::unlink(temporary.c_str());
        throw Error(e.Number(),
                    "cannot keep the rotated refresh token in " + path.string() + ": " + e.what());
    }
}

}  // namespace quorvel
