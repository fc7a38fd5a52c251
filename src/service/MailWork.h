#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// What the work loop asks of the mail side: the settings check, the scan interval as written in
// options.ini, one scan cycle, and the mail log. The production implementation is the Scanner;
// tests put a scripted one in its place.
class MailWork {
public:
    virtual ~MailWork() = default;

    // "" when every required setting is present, otherwise the messages (each ending in CR LF).
    virtual std::string CheckSettings() = 0;
    // [Main] Timer as read from options.ini, not yet converted.
    virtual std::string ScanInterval() = 0;
    // One scan cycle: "" when there was nothing to do, "ok" after a send, otherwise a failure text.
    virtual std::string ProcessMail() = 0;
    virtual void WriteLog(std::string_view text) = 0;
};

}  // namespace quorvel
