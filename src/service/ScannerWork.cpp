#include "service/ScannerWork.h"

#include "service/FolderSettings.h"
#include "service/SettingsTest.h"
#include "settings/CheckSettings.h"
#include "settings/StartupRules.h"

namespace quorvel {

ScannerWork::ScannerWork(std::filesystem::path appFolder, const Clock& clock)
    : clock_(clock), log_(appFolder, clock), lockTest_(clock), scanner_(std::move(appFolder), log_, lockTest_) {}

std::string ScannerWork::CheckSettings() {
    std::string missing = quorvel::CheckSettings(scanner_.AppFolder(), scanner_.Ini(), log_);
    if (!missing.empty()) return missing;
    return CheckStartupRules(scanner_.Ini(), scanner_.AppFolder());
}

std::string ScannerWork::ScanInterval() {
    return scanner_.Ini().ReadINI("Timer", std::string("Main"));
}

std::string ScannerWork::ProcessMail() {
    status_.MissingMailFolder = MissingMailFolder(scanner_.Ini());
    if (!status_.MissingMailFolder.empty()) return "";
    std::string result = scanner_.ProcessMail();
    if (!result.empty()) {
        status_.LastSendTime = LocalTimestamp(clock_.Now());
        status_.LastResult = result;
    }
    return result;
}

int ScannerWork::TestSettings(std::ostream& out) {
    return quorvel::TestSettings(scanner_.AppFolder(), log_, out);
}

void ScannerWork::WriteLog(std::string_view text) {
    log_.WriteLog(text);
}

}  // namespace quorvel
