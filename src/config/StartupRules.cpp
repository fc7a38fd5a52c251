#include "config/StartupRules.h"

#include <functional>
#include <vector>

#include "config/FolderRules.h"
#include "config/QuietRules.h"
#include "config/RetryRules.h"
#include "config/SecretRules.h"
#include "config/SecurityRules.h"

namespace quorvel {

namespace {

// One rule: "" when it holds, otherwise its message ending in CR LF.
using Rule = std::function<std::string(const clsINI& Ini, const std::filesystem::path& appFolder)>;

std::vector<Rule> Rules() {
    return {
        FolderOverlapRule, SecurityRule, CAFileRule,         HeloRule,
        AuthRule,          SecretRule,   CheckRetrySettings, QuietSecondsRule,
    };
}

}  // namespace

std::string CheckStartupRules(const clsINI& Ini, const std::filesystem::path& appFolder) {
    std::string errors;
    for (const Rule& rule : Rules()) errors += rule(Ini, appFolder);
    return errors;
}

}  // namespace quorvel
