#include "config/QuietRules.h"

#include <optional>

#include "base/Utf8Text.h"
#include "base/WholeNumber.h"

namespace quorvel {

namespace {

constexpr const char* kKey = "QuietSeconds";

}  // namespace

QuietPeriods ReadQuietPeriods(const clsINI& Ini) {
    QuietPeriods periods;
    if (std::optional<long> value =
            WholeNumber(Ini.ReadINI(kKey, "Main"), 0, QuietPeriods::kMaxQuietSeconds)) {
        periods.Seen = periods.Unseen = std::chrono::seconds(*value);
    }
    return periods;
}

std::string QuietSecondsRule(const clsINI& Ini, const std::filesystem::path& /*appFolder*/) {
    const std::string value = Ini.ReadINI(kKey, "Main");
    if (value.empty() || WholeNumber(value, 0, QuietPeriods::kMaxQuietSeconds)) return "";
    return "Неверно задано время покоя файла: [Main] " + std::string(kKey) + " = \"" +
           CleanLogText(value) + "\" (0.." + std::to_string(QuietPeriods::kMaxQuietSeconds) +
           ")\r\n";
}

}  // namespace quorvel
