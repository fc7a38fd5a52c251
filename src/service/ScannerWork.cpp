#include "service/ScannerWork.h"

#include "settings/CheckSettings.h"

namespace quorvel {

ScannerWork::ScannerWork(std::filesystem::path appFolder, const Clock& clock)
    : appFolder_(std::move(appFolder)), log_(appFolder_, clock) {}

std::string ScannerWork::CheckSettings() {
    return quorvel::CheckSettings(appFolder_, Ini, log_);
}

std::string ScannerWork::ScanInterval() {
    return Ini.ReadINI("Timer", std::string("Main"));
}

std::string ScannerWork::ProcessMail() {
    return "";  // TODO(lead): the Scanner's scan cycle goes here once it is merged.
}

void ScannerWork::WriteLog(std::string_view text) {
    log_.WriteLog(text);
}

}  // namespace quorvel
