#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "app/ClosePrompt.h"
#include "app/MailWork.h"
#include "loop/EventLoop.h"
#include "systemd/ServiceControl.h"

namespace quorvel {

// What the service form works with: the service manager, the loop with its timers, the mail side,
// the console prompt, and the console streams for the install and uninstall messages.
struct FormParts {
    ServiceControl& control;
    EventLoop& loop;
    MailWork& work;
    ClosePrompt& prompt;
    std::ostream& out;
    std::ostream& err;
};

// The state of the form: the stop request and the tick counting of the work loop.
struct FormState {
    bool StopFlag = false;
    bool Paused = false;
    std::int16_t CheckTicks = 0;  // ticks between two scan cycles, from [Main] Timer
    std::int16_t TickCount = 0;   // ticks since the end of the last cycle
};

// The service itself: the command line, the two timers that drive the work, the watch over the
// cycle and the service manager's watchdog, and the answers to the service manager's events.
// Every handler runs on the loop's one thread, to its end; the scan cycle runs aside and hands its
// result back to the loop, so that a folder that stops answering cannot stop the loop.
class frmService {
public:
    static constexpr int kExitOk = 0;
    static constexpr int kExitFailed = 1;
    static constexpr int kExitInvalidParameter = 2;
    static constexpr int kExitBadSettings = 78;  // EX_CONFIG: systemd does not restart on it

    explicit frmService(FormParts parts);

    // The load handler: "/i" installs, "/u" uninstalls, "/t" tests the settings and the server
    // login, "" prepares the work loop and reports the service as started; anything else is
    // refused.
    void Form_Load(const std::string& arguments);

    // The person at the console asks to close the service.
    void Form_QueryUnload();

    // Events of the service manager.
    void Service_Start();
    void Service_Stop();
    void Service_Pause();
    void Service_Continue();
    // A reload: while paused, a continue; otherwise the settings are checked again and what the
    // check finds is reported, and the service goes on either way.
    void Service_Reload();
    void Service_Control(int code);

private:
    // The start-up check and the one-second tick.
    void OnStartupTimer();
    void OnTick();
    // The one-second watch: keeps the watchdog fed and watches the running cycle.
    void OnWatch();
    void InstallService();
    void UninstallService();
    void RunCommand(const std::function<void()>& command, const char* success, const char* failure);
    void PrepareRun();
    void ShowMessage(const std::string& text, int status);

    void ReportReady();
    void ShowStatus(bool always);
    std::string CheckAll();
    std::string LoadCheckTicks();
    void RunCycle();
    void CycleEnded(const CycleReport& report, const std::optional<std::string>& error);
    void CheckOnReload();
    void WatchSend();
    void WatchFolder(const CycleProgress& progress);
    void FolderAnswers();
    void ReportResult(const CycleReport& report);
    void ReportMailFolder(const std::string& missing);
    void StopForBadSettings(const std::string& text);
    void ConfirmClose();

    void LogError(const std::string& text);
    void LogInformation(const std::string& text);

    FormParts parts_;
    FormState state_;
    bool ready_ = false;             // the service manager was told that the service is up
    std::string status_;             // the status line it was told last
    std::string missingMailFolder_;  // the mail folder reported missing, "" when none
    MailStatus mail_;                // the mail side's state after the last cycle
    bool cycleRunning_ = false;      // a cycle runs aside; its end has not reached the loop yet
    bool reloadWaits_ = false;       // a reload came during the cycle: the check runs after it
    long answerTimeout_ = 60;        // seconds a folder may leave a call unanswered
    std::uint64_t seenSteps_ = 0;    // the cycle's step count at the last watch
    long stillSeconds_ = 0;          // seconds the cycle has not moved
    std::string silentFolder_;       // the folder reported as not answering, "" when none
    std::string silentNote_;         // its note on the status line
    std::string settingsNote_;       // the errors a reload found in options.ini, "" when none
    std::unique_ptr<LoopTimer> startupTimer_;  // the one-shot start-up check
    std::unique_ptr<LoopTimer> tickTimer_;     // the one-second tick
    std::unique_ptr<LoopTimer> watchTimer_;    // the one-second watch
};

}  // namespace quorvel
