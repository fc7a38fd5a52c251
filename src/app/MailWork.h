#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/CycleProgress.h"
#include "delivery/CycleResultText.h"

namespace quorvel {

// A recipient folder whose failed batch waits for another attempt, and until when.
struct RetryWait {
    std::string Folder;
    std::string Until;  // dd.mm.yyyy hh:mm:ss
    bool operator==(const RetryWait&) const = default;
};

// What the mail side is doing, for the service's status line. Texts are as they go to mail.log.
struct MailStatus {
    std::string LastSendTime;        // dd.mm.yyyy hh:mm:ss of the last cycle that did something
    std::string LastResult;          // its result: "ok" or the failure text
    std::string LockedFolder;        // the folder whose batch waits on a locked file
    std::vector<RetryWait> Retries;  // folders waiting for a retry
    std::string MissingMailFolder;   // [Main] MailFolder when it is missing or not a folder
    std::string ReplacedFolder;      // the mail or lost folder swapped since the settings check
    bool operator==(const MailStatus&) const = default;
};

// What the work loop asks of the mail side: the settings check, the scan interval as written in
// options.ini, how long a folder may take to answer, one scan cycle, its progress and status, the
// mail log, and the settings test of `/t`. The production implementation is the Scanner; tests
// put a scripted one in its place. ProcessMail runs on a thread of its own; Progress is read while
// it runs; everything else is called only while no cycle runs.
class MailWork {
public:
    virtual ~MailWork() = default;

    // "" when every required setting is present, otherwise the messages (each ending in CR LF).
    virtual std::string CheckSettings() = 0;
    // [Main] Timer as read from options.ini, not yet converted.
    virtual std::string ScanInterval() = 0;
    // Seconds a folder may leave a call unanswered before it counts as not answering: [SMTP]
    // Timeout, or a default when it is missing or unusable.
    virtual long AnswerTimeout() = 0;
    // One scan cycle, as it is told: no text when there was nothing to do, "ok" after a send,
    // otherwise a failure text; with its weight in the journal.
    virtual CycleReport ProcessMail() = 0;
    // What the running cycle waits on; safe to read from another thread.
    virtual const CycleProgress& Progress() const = 0;
    // The state after the last cycle.
    virtual MailStatus Status() const = 0;
    virtual void WriteLog(std::string_view text) = 0;
    // Checks every setting, then logs in to the SMTP server, one finding a line on `out`; the
    // exit status: 0 all well, 78 a setting is wrong, 69 the server is unreachable or refuses.
    virtual int TestSettings(std::ostream& out) = 0;
};

}  // namespace quorvel
