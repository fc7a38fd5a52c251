#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/Clock.h"
#include "log/MailLog.h"
#include "service/MailWork.h"
#include "settings/clsINI.h"

namespace quorvel {

// The mail side of the production service: options.ini and mail.log in the executable's folder.
class ScannerWork final : public MailWork {
public:
    ScannerWork(std::filesystem::path appFolder, const Clock& clock);

    std::string CheckSettings() override;
    std::string ScanInterval() override;
    std::string ProcessMail() override;
    void WriteLog(std::string_view text) override;

private:
    std::filesystem::path appFolder_;
    MailLog log_;
    clsINI Ini;
};

}  // namespace quorvel
