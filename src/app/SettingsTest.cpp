#include "app/SettingsTest.h"

#include <unistd.h>

#include <algorithm>
#include <functional>

#include "app/ServiceTexts.h"
#include "app/TrappedError.h"
#include "base/Error.h"
#include "base/NumericText.h"
#include "base/Utf8Text.h"
#include "config/CheckSettings.h"
#include "config/FolderRules.h"
#include "config/FolderSettings.h"
#include "config/GetAddress.h"
#include "config/MainSettings.h"
#include "config/SecretRules.h"
#include "config/SmtpRules.h"
#include "config/StartupRules.h"
#include "message/AddressList.h"
#include "smtp/OAuthTokens.h"
#include "smtp/SmtpConnection.h"
#include "smtp/TokenEndpoint.h"

namespace quorvel {

namespace {

constexpr const char* kPrefix = "QuorvelServer: ";

// The lines of a check's result, each of which ends in CR LF (the last one may not).
void AddLines(std::vector<std::string>& findings, const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) findings.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

void AddAddressFinding(std::vector<std::string>& findings, const std::string& key,
                       const std::function<void()>& parse) {
    try {
        parse();
    } catch (const Error& e) {
        findings.push_back(key + ": " + e.what());
    }
}

// A folder that is missing can be created when the folder above it exists and takes new entries.
bool Creatable(const std::string& folder) {
    if (IsFolder(folder)) return true;
    std::string parent = std::filesystem::path(folder).parent_path().string();
    if (parent.empty()) parent = ".";
    return IsFolder(parent) && ::access(parent.c_str(), W_OK | X_OK) == 0;
}

std::vector<std::string> SettingsFindings(const std::filesystem::path& appFolder, clsINI& Ini,
                                          const MailLog& log) {
    std::vector<std::string> findings;
    AddLines(findings, CheckSettings(appFolder, Ini, log));
    if (!findings.empty()) return findings;
    AddLines(findings, CheckStartupRules(Ini, appFolder));
    // A value that a start-up rule already named is not named twice.
    for (auto& found : ValueFindings(Ini, appFolder)) {
        if (std::find(findings.begin(), findings.end(), found) == findings.end())
            findings.push_back(std::move(found));
    }
    for (auto& found : FolderFindings(Ini)) findings.push_back(std::move(found));
    return findings;
}

}  // namespace

std::vector<std::string> ValueFindings(const clsINI& Ini, const std::filesystem::path& appFolder) {
    std::vector<std::string> findings;
    try {
        ReadSmtpSettings(Ini);
    } catch (const Error& e) {
        findings.push_back(e.what());
    }
    const std::string interval = ScanIntervalSetting(Ini);
    try {
        ToInteger16(interval);
    } catch (const Error&) {
        findings.push_back(BadScanIntervalText(interval));
    }
    AddAddressFinding(findings, "[Main] Mail", [&] { ParseMailbox(SenderSetting(Ini)); });
    ForEachAlias(appFolder, [&](std::string_view alias, std::string_view address) {
        AddAddressFinding(findings, "[alias] " + CleanLogText(alias),
                          [&] { ParseAddressList(address); });
        return true;
    });
    return findings;
}

std::vector<std::string> FolderFindings(const clsINI& Ini) {
    std::vector<std::string> findings;
    std::string mailFolder = MailFolderSetting(Ini);
    if (!IsFolder(mailFolder)) findings.push_back(MissingMailFolderText(mailFolder));
    std::string lostFolder = LostFolderSetting(Ini);
    if (!Creatable(lostFolder)) {
        findings.push_back("Не удаётся создать каталог неотправленной почты " +
                           CleanLogText(lostFolder));
    }
    return findings;
}

int TestSettings(const std::filesystem::path& appFolder, const MailLog& log, std::ostream& out) {
    clsINI Ini;
    std::vector<std::string> findings, warnings;
    try {
        findings = SettingsFindings(appFolder, Ini, log);
        warnings = ExposedFolderWarnings(Ini);  // said, but no reason to refuse
    } catch (...) {
        findings.push_back(TrappedErrorText());
    }
    for (const std::string& line : warnings) out << kPrefix << line << '\n';
    for (const std::string& finding : findings) out << kPrefix << finding << '\n';
    if (!findings.empty()) return kExitBadSettings;
    for (const std::string& warning : ReadableSecretWarnings(Ini, appFolder))
        out << kPrefix << "warning: " << warning << '\n';
    out << kPrefix << "настройки в порядке" << std::endl;
    try {
        SmtpSettings smtp = ReadSmtpSettings(Ini);
        const SystemClock clock;
        OAuthTokens tokens(clock, [&out](const std::string& text) {
            out << kPrefix << "warning: " << text << '\n';
        });
        WithLogin(smtp, tokens, [&out](const SmtpSettings& signedIn) {
            if (signedIn.Auth == SmtpAuth::OAuth2) {
                out << kPrefix << "access token received from "
                    << CleanLogText(signedIn.OAuth.TokenUrl) << " ("
                    << GrantType(signedIn.OAuth.RefreshToken) << " grant)" << std::endl;
            }
            CheckSmtpLogin(signedIn);
        });
        out << kPrefix << "вход на SMTP-сервер " << smtp.Server << ":" << smtp.Port << " выполнен"
            << std::endl;
        return 0;
    } catch (...) {
        out << kPrefix << "вход на SMTP-сервер не выполнен: " << TrappedErrorText() << std::endl;
        return kExitUnavailable;
    }
}

}  // namespace quorvel
