#include "config/SmtpRules.h"

#include <cerrno>
#include <optional>

#include "base/Error.h"
#include "base/TextRules.h"
#include "base/Utf8Text.h"
#include "base/WholeNumber.h"
#include "config/HeloName.h"
#include "config/SecretSetting.h"

namespace quorvel {
namespace {

constexpr long kMaxPort = 65535;
constexpr long kMaxTimeout = 86400;

// A whole decimal number from 1 to `max`, blanks around it allowed; Error naming the key otherwise.
long WholeNumberFrom1(const std::string& text, long max, const std::string& what) {
    if (std::optional<long> value = WholeNumber(text, 1, max)) return *value;
    throw Error(EINVAL, what + " is not a whole number from 1 to " + std::to_string(max) + ": \"" +
                            CleanLogText(text) + "\"");
}

// A host name, an IPv4 address, or an IPv6 address in brackets: nothing that could add a user,
// a path or a second URL to smtp://Server:Port.
bool IsHost(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        return host.find_first_not_of("0123456789abcdefABCDEF:.", 1) == host.size() - 1;
    }
    return !host.empty() &&
           host.find_first_not_of(
               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") ==
               std::string_view::npos;
}

}  // namespace

std::optional<SmtpSecurity> ParseSecurity(const std::string& text) {
    const std::string_view value = TrimBlanks(text);
    if (value.empty() || SameNameAnyCase(value, "none")) return SmtpSecurity::None;
    if (SameNameAnyCase(value, "starttls")) return SmtpSecurity::StartTls;
    if (SameNameAnyCase(value, "tls")) return SmtpSecurity::Tls;
    return std::nullopt;
}

std::optional<SmtpAuth> ParseAuth(const std::string& text) {
    const std::string_view value = TrimBlanks(text);
    if (value.empty() || SameNameAnyCase(value, "password")) return SmtpAuth::Password;
    if (SameNameAnyCase(value, "oauth2")) return SmtpAuth::OAuth2;
    return std::nullopt;
}

std::string AuthValueError(const std::string& text) {
    return "[SMTP] Auth is not password or oauth2: \"" + CleanLogText(text) + "\"";
}

std::string OAuthSettingsError(const OAuthSettings& oauth) {
    std::string errors;
    const std::string url = "[SMTP] TokenUrl = \"" + CleanLogText(oauth.TokenUrl) + "\"";
    if (oauth.TokenUrl.empty())
        errors += url + ": Auth=oauth2 needs the token endpoint of the provider\r\n";
    else if (!SameNameAnyCase(oauth.TokenUrl.substr(0, 8), "https://"))
        errors += url + ": not an https address\r\n";
    if (TrimBlanks(oauth.ClientId).empty()) {
        errors += "[SMTP] ClientId = \"" + CleanLogText(oauth.ClientId) +
                  "\": Auth=oauth2 needs the client ID\r\n";
    }
    return errors;
}

std::string SecurityValueError(const std::string& text) {
    return "[SMTP] Security is not none, starttls or tls: \"" + CleanLogText(text) + "\"";
}

std::filesystem::path CAFilePath(const std::string& value, const std::filesystem::path& iniFolder) {
    const std::string_view name = TrimBlanks(value);
    if (name.empty()) return {};
    return iniFolder /
           std::filesystem::path(std::string(name));  // an absolute name replaces the folder
}

std::optional<long> SmtpTimeoutSetting(const clsINI& Ini) {
    return WholeNumber(Ini.ReadINI("Timeout", "SMTP"), 1, kMaxTimeout);
}

SmtpSettings ReadSmtpSettings(const clsINI& Ini) {
    SmtpSettings s;
    s.Server = Ini.ReadINI("Server", "SMTP");
    const std::string port = Ini.ReadINI("Port", "SMTP");
    s.User = Ini.ReadINI("User", "SMTP");
    const std::string timeout = Ini.ReadINI("Timeout", "SMTP");
    const std::string security = Ini.ReadINI("Security", "SMTP");
    s.CAFile = CAFilePath(Ini.ReadINI("CAFile", "SMTP"), Ini.FileName().parent_path());
    s.Helo = Ini.ReadINI("Helo", "SMTP");
    if (!IsHost(s.Server)) {
        throw Error(EINVAL, "[SMTP] Server is not a host name or address: \"" +
                                CleanLogText(s.Server) + "\"");
    }
    s.Port = WholeNumberFrom1(port, kMaxPort, "[SMTP] Port");
    s.Timeout = WholeNumberFrom1(timeout, kMaxTimeout, "[SMTP] Timeout");
    const std::optional<SmtpSecurity> mode = ParseSecurity(security);
    if (!mode) throw Error(EINVAL, SecurityValueError(security));
    s.Security = *mode;
    if (!s.Helo.empty() && !IsHeloName(s.Helo)) throw Error(EINVAL, HeloValueError(s.Helo));
    if (s.Helo.empty()) s.Helo = DefaultHeloName();
    s.IniFolder = Ini.FileName().parent_path();
    const std::string auth = Ini.ReadINI("Auth", "SMTP");
    const std::optional<SmtpAuth> how = ParseAuth(auth);
    if (!how) throw Error(EINVAL, AuthValueError(auth));
    s.Auth = *how;
    if (s.Auth == SmtpAuth::Password) {
        s.Password = ReadSecret(Ini, "Password", s.IniFolder);
        return s;
    }
    s.OAuth.TokenUrl = std::string(TrimBlanks(Ini.ReadINI("TokenUrl", "SMTP")));
    s.OAuth.ClientId = Ini.ReadINI("ClientId", "SMTP");
    s.OAuth.Scope = Ini.ReadINI("Scope", "SMTP");
    s.OAuth.ClientSecret = ReadSecret(Ini, "ClientSecret", s.IniFolder);
    s.OAuth.RefreshToken = ReadSecret(Ini, "RefreshToken", s.IniFolder);
    const std::string unfit = OAuthSettingsError(s.OAuth);
    if (!unfit.empty()) throw Error(EINVAL, unfit.substr(0, unfit.find("\r\n")));
    return s;
}

}  // namespace quorvel
