#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "app/InstanceLock.h"
#include "app/MailWork.h"
#include "base/Clock.h"
#include "delivery/Scanner.h"
#include "dropfolder/LeaseLockTest.h"
#include "log/MailLog.h"
#include "systemd/ServiceControl.h"

namespace quorvel {

// The mail side of the production service: the Scanner over options.ini and mail.log in the
// executable's folder, with the kernel's lease-based lock test. While [Main] MailFolder is missing
// or not a folder, or a named folder is not the one pinned at the settings check, a cycle does
// nothing but note it in the status. A second service with the same options.ini fails the settings
// check, naming the one that runs. When mail.log starts to fail,
// and when it works again, `control`'s event log hears it once.
class ScannerWork final : public MailWork {
public:
    ScannerWork(std::filesystem::path appFolder, const Clock& clock, ServiceControl& control);

    std::string CheckSettings() override;
    std::string ScanInterval() override;
    long AnswerTimeout() override;
    CycleReport ProcessMail() override;
    const CycleProgress& Progress() const override { return scanner_.Progress(); }
    MailStatus Status() const override { return status_; }
    void WriteLog(std::string_view text) override;
    int TestSettings(std::ostream& out) override;

private:
    const Clock& clock_;
    ServiceControl& control_;
    MailStatus status_;
    InstanceLock instance_;
    MailLog log_;
    StatfsFileSystemKind fileSystems_;
    LeaseLockTest lockTest_;
    Scanner scanner_;
};

}  // namespace quorvel
