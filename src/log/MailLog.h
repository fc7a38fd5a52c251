#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/Clock.h"

namespace quorvel {

// `when` as mail.log writes it: dd.mm.yyyy hh:mm:ss in local time.
std::string LocalTimestamp(std::chrono::system_clock::time_point when);

// The service's own record of what each cycle found and did: `<AppFolder>/mail.log`.
class MailLog {
public:
    MailLog(std::filesystem::path appFolder, const Clock& clock);

    const std::filesystem::path& Path() const { return path_; }

    // Appends "dd.mm.yyyy hh:mm:ss - " text CR LF in local time and the locale's character set.
    // The file is opened and closed for every entry, so it may be read, moved or deleted between
    // entries. Throws Error naming the path and the system's reason when it cannot be written.
    void WriteLog(std::string_view text) const;

private:
    std::filesystem::path path_;
    const Clock& clock_;
};

}  // namespace quorvel
