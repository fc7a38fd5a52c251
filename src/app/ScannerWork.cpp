#include "app/ScannerWork.h"

#include "app/SettingsTest.h"
#include "base/WholeNumber.h"
#include "config/CheckSettings.h"
#include "config/SecretRules.h"
#include "config/StartupRules.h"
#include "delivery/CycleResultText.h"

namespace quorvel {

ScannerWork::ScannerWork(std::filesystem::path appFolder, const Clock& clock,
                         ServiceControl& control)
    : clock_(clock),
      control_(control),
      instance_(appFolder / "QuorvelServer.lock"),
      log_(appFolder, clock,
           [&control](bool working, const std::string& text) {
               if (working)
                   control.LogEvent(EventType::Information, kInformationEventId, text);
               else
                   control.LogEvent(EventType::Error, kErrorEventId, text);
           }),
      lockTest_(fileSystems_),
      scanner_(std::move(appFolder), log_, lockTest_, clock) {}

// Once the settings hold, the journal hears of secrets that anyone may read, the mail and lost
// folders are pinned, and the copies that a killed move left in the lost folder are removed.
std::string ScannerWork::CheckSettings() {
    const std::string running = instance_.Take();
    if (!running.empty()) return running;
    std::string problems = quorvel::CheckSettings(scanner_.AppFolder(), scanner_.Ini(), log_);
    if (problems.empty()) problems = CheckStartupRules(scanner_.Ini(), scanner_.AppFolder());
    if (!problems.empty()) return problems;
    for (const std::string& warning :
         ReadableSecretWarnings(scanner_.Ini(), scanner_.AppFolder())) {
        control_.LogEvent(EventType::Error, kErrorEventId, warning);
    }
    scanner_.PinFolders();
    scanner_.RemoveStaleCopies();
    return problems;
}

std::string ScannerWork::ScanInterval() { return scanner_.Ini().ReadINI("Timer", "Main"); }

// The same bounds as for the SMTP transfer.
long ScannerWork::AnswerTimeout() {
    constexpr long kDefault = 60;
    return WholeNumber(scanner_.Ini().ReadINI("Timeout", "SMTP"), 1, 86400).value_or(kDefault);
}

CycleReport ScannerWork::ProcessMail() {
    CycleReport report = ReportOf(scanner_.ProcessMail());
    status_.MissingMailFolder = scanner_.MissingMailFolder();
    status_.ReplacedFolder = scanner_.ReplacedFolder();
    status_.LockedFolder = scanner_.HeldByLock();
    status_.Retries.clear();
    for (const auto& [folder, until] : scanner_.Retries().Waiting()) {
        status_.Retries.push_back({folder, LocalTimestamp(until)});
    }
    if (!report.Text.empty()) {
        status_.LastSendTime = LocalTimestamp(clock_.Now());
        status_.LastResult = report.Text;
    }
    return report;
}

int ScannerWork::TestSettings(std::ostream& out) {
    return quorvel::TestSettings(scanner_.AppFolder(), log_, out);
}

void ScannerWork::WriteLog(std::string_view text) { log_.WriteLog(text); }

}  // namespace quorvel
