#include "settings/SecurityRules.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/TextRules.h"
#include "base/Utf8Text.h"
#include "mail/SmtpSettings.h"

namespace quorvel {

std::string SecurityRule(clsINI& Ini, const std::filesystem::path&) {
    const std::string value = Ini.ReadINI("Security", "SMTP");
    return ParseSecurity(value) ? "" : SecurityValueError(value) + "\r\n";
}

std::string AuthRule(clsINI& Ini, const std::filesystem::path&) {
    const std::string value = Ini.ReadINI("Auth", "SMTP");
    const std::optional<SmtpAuth> auth = ParseAuth(value);
    if (!auth) return AuthValueError(value) + "\r\n";
    if (*auth != SmtpAuth::OAuth2) return "";
    OAuthSettings oauth;
    oauth.TokenUrl = std::string(TrimBlanks(Ini.ReadINI("TokenUrl", "SMTP")));
    oauth.ClientId = Ini.ReadINI("ClientId", "SMTP");
    return OAuthSettingsError(oauth);
}

std::string CAFileRule(clsINI& Ini, const std::filesystem::path& appFolder) {
    const std::string value = Ini.ReadINI("CAFile", "SMTP");
    const std::filesystem::path path = CAFilePath(value, appFolder);
    if (path.empty()) return "";
    struct stat info {};
    const char* reason = nullptr;
    if (::stat(path.c_str(), &info) != 0 || ::access(path.c_str(), R_OK) != 0) {
        reason = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        reason = "not a regular file";
    }
    if (reason == nullptr) return "";
    return "[SMTP] CAFile cannot be read: \"" + CleanHeaderText(value) + "\" (" +
           CleanHeaderText(path.string()) + ": " + reason + ")\r\n";
}

}  // namespace quorvel
