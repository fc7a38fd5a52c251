#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "base/Clock.h"

namespace quorvel {

// `when` as mail.log writes it: dd.mm.yyyy hh:mm:ss in local time.
std::string LocalTimestamp(std::chrono::system_clock::time_point when);

// The service's own record of what each cycle found and did: `<AppFolder>/mail.log`.
class MailLog {
public:
    // Hears when writing starts to fail (false, with the path and the reason) and when it works
    // again (true); once per change, not once per entry.
    using Watcher = std::function<void(bool working, const std::string& text)>;

    MailLog(std::filesystem::path appFolder, const Clock& clock, Watcher watcher = {});

    const std::filesystem::path& Path() const { return path_; }

    // Appends "dd.mm.yyyy hh:mm:ss - " text CR LF in local time and the locale's character set.
    // The file is opened and closed for every entry, so it may be read, moved or deleted between
    // entries; it is created with mode 0640, and only a regular file is written (never a link,
    // FIFO or device in its place, and without ever waiting to open one). Never throws: a log that
    // cannot be written must not stop the mail. An entry that cannot be written is dropped (false),
    // and the watcher hears of the change.
    bool WriteLog(std::string_view text) const;

private:
    void Append(std::string_view text) const;
    void Report(bool working, const std::string& text) const;

    std::filesystem::path path_;
    const Clock& clock_;
    Watcher watcher_;
    mutable bool failing_ = false;
};

}  // namespace quorvel
