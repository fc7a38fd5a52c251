#include "config/SecretRules.h"

#include <sys/stat.h>

#include <cstdio>

#include "base/Error.h"
#include "base/TextRules.h"
#include "base/Utf8Text.h"
#include "config/SecretSetting.h"

namespace quorvel {
namespace {

// The warning for `path` holding `what` when others may read it, "" when they may not (or it is
// gone).
std::string ReadableByOthers(const std::filesystem::path& path, const std::string& what) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || (info.st_mode & S_IROTH) == 0) return "";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return CleanLogText(path.string()) + " (" + what + ") can be read by any user (mode " + mode +
           "); make it readable by its owner and group only (chmod o-r)";
}

}  // namespace

std::string SecretRule(const clsINI& Ini, const std::filesystem::path& appFolder) {
    std::string errors;
    for (const char* key : kSecretKeys) {
        try {
            ReadSecret(Ini, key, appFolder);
        } catch (const Error& e) {
            errors += std::string(e.what()) + "\r\n";
        }
    }
    return errors;
}

std::vector<std::string> ReadableSecretWarnings(const clsINI& Ini,
                                                const std::filesystem::path& appFolder) {
    std::vector<std::string> warnings;
    std::string inIni;
    for (const char* key : kSecretKeys) {
        if (!Ini.ReadINI(key, "SMTP").empty())
            inIni += std::string(inIni.empty() ? "" : ", ") + "[SMTP] " + key;
        const std::string file = Ini.ReadINI(std::string(key) + "File", "SMTP");
        if (TrimBlanks(file).empty() || TrimBlanks(file).starts_with("credential:")) continue;
        std::string warning = ReadableByOthers(SecretFilePath(file, appFolder),
                                               "[SMTP] " + std::string(key) + "File");
        if (!warning.empty()) warnings.push_back(std::move(warning));
    }
    if (!inIni.empty()) {
        std::string warning = ReadableByOthers(Ini.FileName(), "holds " + inIni);
        if (!warning.empty()) warnings.insert(warnings.begin(), std::move(warning));
    }
    return warnings;
}

}  // namespace quorvel
