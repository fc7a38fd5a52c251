#include "service/frmService.h"

#include "base/Error.h"
#include "base/NumericText.h"
#include "mail/DeferredResult.h"
#include "service/ServiceTexts.h"
#include "service/StatusLine.h"
#include "service/TrappedError.h"

namespace quorvel {

namespace {

constexpr int kTickMilliseconds = 1000;
constexpr const char* kDefaultStartupDelay = "300";
constexpr const char* kInstalledStartupDelay = "1000";

constexpr const char* kStartedText = "Запущен сервис автоматической отправки почты";
constexpr const char* kResultPrefix = "Результат отправки: ";
constexpr const char* kCloseTitle = "Stop Service";
constexpr const char* kCloseText =
    "Are you sure you want to unload the service?...\r\nthe service will be stopped";

}  // namespace

frmService::frmService(FormParts parts)
    : parts_(parts),
      Timer(parts.loop.CreateTimer([this] { Timer_Timer(); })),
      Timer1(parts.loop.CreateTimer([this] { Timer1_Timer(); })) {
    // The start-up timer is on from the start, but with interval 0 it waits for the load
    // handler to give it one.
    Timer->Enabled(true);
    Timer1->Interval(kTickMilliseconds);
}

void frmService::Form_Load(const std::string& arguments) {
    state_.StopFlag = false;
    if (arguments == "/i") {
        InstallService();
    } else if (arguments == "/u") {
        UninstallService();
    } else if (arguments == "/t") {
        parts_.loop.Quit(parts_.work.TestSettings(parts_.out));
    } else if (!arguments.empty()) {
        ShowMessage("Invalid Parameter", kExitInvalidParameter);
    } else {
        PrepareRun();
    }
}

void frmService::InstallService() {
    RunCommand([this] {
        parts_.control.Install();
        if (!parts_.control.HasSavedSetting("Parameters", "TimerInterval")) {
            parts_.control.SaveSetting("Parameters", "TimerInterval", kInstalledStartupDelay);
        }
    }, ": установлено успешно.", ": ошибка при установке");
}

void frmService::UninstallService() {
    RunCommand([this] { parts_.control.Uninstall(); }, ": деинсталляция завершена", ": ошибка деинсталляции");
}

// Runs an install or uninstall; the message names the service as the control layer reads it
// back, and a failure also gives its reason on standard error.
void frmService::RunCommand(const std::function<void()>& command, const char* success, const char* failure) {
    try {
        command();
    } catch (...) {
        parts_.err << TrappedErrorText() << '\n';
        ShowMessage(parts_.control.ServiceName() + failure, kExitFailed);
        return;
    }
    ShowMessage(parts_.control.ServiceName() + success, kExitOk);
}

// Sets the start-up delay. The service manager hears that the service is ready once the start-up
// check has passed, or at once when no check will ever run (a delay of 0). An unusable delay
// leaves the process running but unannounced, so the service manager sees that the start failed.
void frmService::PrepareRun() {
    try {
        std::string delay =
            parts_.control.GetSetting("Parameters", "TimerInterval", kDefaultStartupDelay);
        Timer->Interval(ToInteger16(delay));
        Service_Start();
        if (Timer->Interval() == 0) ReportReady();
    } catch (...) {
        LogError(TrappedErrorText());
    }
}

void frmService::ReportReady() {
    if (!ready_) parts_.control.StartService();
    ready_ = true;
    ShowStatus(true);
}

// The status line goes out when it changed, or always when `always`.
void frmService::ShowStatus(bool always) {
    std::string line = StatusLine(state_.Paused, parts_.work.Status());
    if (!always && line == status_) return;
    status_ = line;
    parts_.control.SetStatus(line);
}

void frmService::ShowMessage(const std::string& text, int status) {
    parts_.out << text << std::endl;
    parts_.loop.Quit(status);
}

void frmService::Form_QueryUnload() {
    if (state_.StopFlag) {
        parts_.loop.Quit(kExitOk);
        return;
    }
    parts_.prompt.Ask(kCloseTitle, kCloseText, [this](bool yes) {
        if (yes) ConfirmClose();
    });
}

void frmService::ConfirmClose() {
    parts_.control.StopService();
    Service_Stop();
}

void frmService::Service_Start() {
    try {
        LogInformation(kStartedText);
    } catch (...) {
        LogError(TrappedErrorText());
    }
}

void frmService::Service_Stop() {
    state_.StopFlag = true;
    if (ready_) parts_.control.SetStatus(kStoppingStatus);
    parts_.loop.Quit(kExitOk);
}

// A pause stops both timers, so that no cycle runs until the service continues.
void frmService::Service_Pause() {
    try {
        Timer->Enabled(false);
        Timer1->Enabled(false);
        state_.Paused = true;
        LogError("Service paused");
        ShowStatus(true);
    } catch (...) {
        LogError(TrappedErrorText());
    }
}

// A continue checks the settings again; that check switches the tick back on.
void frmService::Service_Continue() {
    try {
        Timer->Enabled(true);
        state_.Paused = false;
        LogInformation("Service continued");
        ShowStatus(true);
    } catch (...) {
        LogError(TrappedErrorText());
    }
}

void frmService::Service_Control(int /*code*/) {}

void frmService::Timer_Timer() {
    Timer->Enabled(false);
    std::string problem;
    try {
        problem = parts_.work.CheckSettings();
        if (problem.empty()) problem = LoadCheckTicks();
        if (problem.empty()) {
            ReportReady();
            Timer1->Enabled(true);
            return;
        }
    } catch (...) {
        problem = TrappedErrorText();
    }
    StopForBadSettings(problem);
}

// A [Main] Timer that does not convert is a settings error like a missing key.
std::string frmService::LoadCheckTicks() {
    std::string value = parts_.work.ScanInterval();
    try {
        state_.CheckTicks = ToInteger16(value);
    } catch (const Error&) {
        return BadScanIntervalText(value) + "\r\n";
    }
    return "";
}

void frmService::StopForBadSettings(const std::string& text) {
    LogError(text);
    parts_.control.StopService();
    state_.StopFlag = true;
    parts_.loop.Quit(kExitBadSettings);
}

// Cycles run every CheckTicks ticks, counted from the end of the previous cycle: the tick is off
// while a cycle runs. Whatever happens in the cycle, the tick is switched on again afterwards.
void frmService::Timer1_Timer() {
    ++state_.TickCount;
    if (state_.TickCount < state_.CheckTicks) return;
    state_.TickCount = 0;
    Timer1->Enabled(false);
    RunCycle();
    Timer1->Enabled(true);
}

void frmService::RunCycle() {
    std::string result;
    try {
        result = parts_.work.ProcessMail();
    } catch (...) {
        LogError(TrappedErrorText());
        return;
    }
    ReportResult(result);
    ReportMailFolder(parts_.work.Status().MissingMailFolder);
    ShowStatus(false);
}

// One error entry when the mail folder goes missing, one information entry when it is back.
void frmService::ReportMailFolder(const std::string& missing) {
    if (missing == missingMailFolder_) return;
    if (!missing.empty()) {
        LogError(MissingMailFolderText(missing));
    } else {
        LogInformation(MailFolderBackText(missingMailFolder_));
    }
    missingMailFolder_ = missing;
}

// A failed send reaches the event log even when mail.log cannot take it.
void frmService::ReportResult(const std::string& result) {
    if (result.empty()) return;
    try {
        parts_.work.WriteLog(kResultPrefix + result);
    } catch (...) {
        LogError(TrappedErrorText());
    }
    if (IsDeferredResult(result)) {
        LogInformation(result);
    } else if (result != "ok") {
        LogError(result);
    }
}

void frmService::LogError(const std::string& text) {
    parts_.control.LogEvent(EventType::Error, kErrorEventId, text);
}

void frmService::LogInformation(const std::string& text) {
    parts_.control.LogEvent(EventType::Information, kInformationEventId, text);
}

}  // namespace quorvel
