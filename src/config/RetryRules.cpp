#include "config/RetryRules.h"

#include <cerrno>
#include <optional>

#include "base/Error.h"
#include "base/Utf8Text.h"
#include "base/WholeNumber.h"

namespace quorvel {

namespace {

struct RetryKey {
    const char* key;
    const char* what;  // the message's words for the key
    long min;
    long max;
};

constexpr RetryKey kRetryFor{"RetryFor", "Неверно задано время повторных попыток", 0,
                             RetrySettings::kMaxRetryFor};
constexpr RetryKey kRetryDelay{"RetryDelay", "Неверно задан интервал повторных попыток", 1,
                               RetrySettings::kMaxRetryDelay};

// "" when the key is absent or fits; otherwise its message, without a line end.
std::string Problem(const RetryKey& key, const std::string& value) {
    if (value.empty() || WholeNumber(value, key.min, key.max)) return "";
    return std::string(key.what) + ": [SMTP] " + key.key + " = \"" + CleanLogText(value) + "\" (" +
           std::to_string(key.min) + ".." + std::to_string(key.max) + ")";
}

long Value(const RetryKey& key, const std::string& value, long absent) {
    if (value.empty()) return absent;
    if (std::optional<long> number = WholeNumber(value, key.min, key.max)) return *number;
    throw Error(EINVAL, Problem(key, value));
}

}  // namespace

RetrySettings ReadRetrySettings(const clsINI& Ini) {
    RetrySettings settings;
    settings.RetryFor =
        std::chrono::seconds(Value(kRetryFor, Ini.ReadINI(kRetryFor.key, "SMTP"), 0));
    settings.RetryDelay = std::chrono::seconds(Value(
        kRetryDelay, Ini.ReadINI(kRetryDelay.key, "SMTP"), RetrySettings::kDefaultRetryDelay));
    return settings;
}

std::string CheckRetrySettings(const clsINI& Ini, const std::filesystem::path& /*appFolder*/) {
    std::string errors;
    for (const RetryKey* key : {&kRetryFor, &kRetryDelay}) {
        std::string problem = Problem(*key, Ini.ReadINI(key->key, "SMTP"));
        if (!problem.empty()) errors += problem + "\r\n";
    }
    return errors;
}

}  // namespace quorvel
