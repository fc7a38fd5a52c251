#include "config/SecurityRules.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/TextRules.h"
#include "base/Utf8Text.h"
#include "config/HeloName.h"
#include "config/SmtpRules.h"

namespace quorvel {
namespace {

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct InfoFree {
    void operator()(STACK_OF(X509_INFO) * s) const { sk_X509_INFO_pop_free(s, X509_INFO_free); }
};

// Whether the PEM file holds a certificate that parses, read as libcurl's TLS library reads a CA
// file.
bool HoldsCertificate(const std::filesystem::path& path) {
    const std::unique_ptr<BIO, BioFree> file(BIO_new_file(path.c_str(), "r"));
    const std::unique_ptr<STACK_OF(X509_INFO), InfoFree> found(
        file ? PEM_X509_INFO_read_bio(file.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error();
    for (int i = 0; found && i < sk_X509_INFO_num(found.get()); ++i) {
        if (sk_X509_INFO_value(found.get(), i)->x509 != nullptr) return true;
    }
    return false;
}

}  // namespace

std::string SecurityRule(const clsINI& Ini, const std::filesystem::path&) {
    const std::string value = Ini.ReadINI("Security", "SMTP");
    return ParseSecurity(value) ? "" : SecurityValueError(value) + "\r\n";
}

std::string HeloRule(const clsINI& Ini, const std::filesystem::path&) {
    const std::string value = Ini.ReadINI("Helo", "SMTP");
    return value.empty() || IsHeloName(value) ? "" : HeloValueError(value) + "\r\n";
}

std::string AuthRule(const clsINI& Ini, const std::filesystem::path&) {
    const std::string value = Ini.ReadINI("Auth", "SMTP");
    const std::optional<SmtpAuth> auth = ParseAuth(value);
    if (!auth) return AuthValueError(value) + "\r\n";
    if (*auth != SmtpAuth::OAuth2) return "";
    OAuthSettings oauth;
    oauth.TokenUrl = std::string(TrimBlanks(Ini.ReadINI("TokenUrl", "SMTP")));
    oauth.ClientId = Ini.ReadINI("ClientId", "SMTP");
    return OAuthSettingsError(oauth);
}

std::string CAFileRule(const clsINI& Ini, const std::filesystem::path& appFolder) {
    const std::string value = Ini.ReadINI("CAFile", "SMTP");
    const std::filesystem::path path = CAFilePath(value, appFolder);
    if (path.empty()) return "";
    struct stat info {};
    const char* reason = nullptr;
    if (::stat(path.c_str(), &info) != 0 || ::access(path.c_str(), R_OK) != 0) {
        reason = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        reason = "not a regular file";
    } else if (!HoldsCertificate(path)) {
        return "[SMTP] CAFile holds no certificate: \"" + CleanLogText(value) + "\" (" +
               CleanLogText(path.string()) + ")\r\n";
    }
    if (reason == nullptr) return "";
    return "[SMTP] CAFile cannot be read: \"" + CleanLogText(value) + "\" (" +
           CleanLogText(path.string()) + ": " + reason + ")\r\n";
}

}  // namespace quorvel
