#include "config/CheckSettings.h"

#include <array>

#include "base/TextRules.h"
#include "config/SmtpRules.h"

namespace quorvel {

namespace {

struct RequiredKey {
    const char* section;
    const char* key;
    const char* messageWhenEmpty;
};

constexpr std::array<RequiredKey, 9> kRequiredKeys{{
    {"Main", "MailFolder", "Не задан каталог почты"},
    {"Main", "Mail", "Не задан e-mail"},
    {"Main", "LostFolder", "Не задан каталог неотправленной почты"},
    {"Main", "Timer", "Не задан интервал проверки"},
    {"SMTP", "Server", "Не задан адрес SMTP-сервера"},
    {"SMTP", "Port", "Не задан порт SMTP-сервера"},
    {"SMTP", "User", "Не задан логин SMTP-сервера"},
    {"SMTP", "Password", "Не задан пароль SMTP-сервера"},
    {"SMTP", "Timeout", "Не задан таймаут SMTP-сервера"},
}};

// options.ini counts when it is a regular file or a link to one; a name starting with "." would
// be hidden, but the name is fixed.
bool SettingsFilePresent(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// The password may come from PasswordFile, and Auth=oauth2 needs none.
bool PasswordNotNeeded(const clsINI& Ini) {
    return !TrimBlanks(Ini.ReadINI("PasswordFile", "SMTP")).empty() ||
           ParseAuth(Ini.ReadINI("Auth", "SMTP")) == SmtpAuth::OAuth2;
}

}  // namespace

std::string CheckSettings(const std::filesystem::path& appFolder, clsINI& Ini, const MailLog& log) {
    Ini = clsINI();
    std::filesystem::path file = appFolder / "options.ini";
    if (!SettingsFilePresent(file)) return "Не найден файл настроек " + file.string();

    Ini.FileName(file);
    std::string errors;
    for (const RequiredKey& required : kRequiredKeys) {
        if (std::string_view(required.key) == "Password" && PasswordNotNeeded(Ini)) continue;
        if (Ini.ReadINI(required.key, required.section).empty()) {
            errors += required.messageWhenEmpty;
            errors += "\r\n";
        }
    }
    log.WriteLog(errors);
    return errors;
}

}  // namespace quorvel
