#include "app/frmService.h"

#include "app/ServiceTexts.h"
#include "app/StatusLine.h"
#include "app/TrappedError.h"
#include "base/Error.h"
#include "base/NumericText.h"
#include "log/MailLog.h"

namespace quorvel {

namespace {

constexpr int kTickMilliseconds = 1000;
// While the service stops during a send, each move of the upload asks for the send's own stall
// limit and this much more: time to move the files of a send that then fails.
constexpr long kStopMarginSeconds = 30;
constexpr const char* kDefaultStartupDelay = "300";
constexpr const char* kInstalledStartupDelay = "1000";

constexpr const char* kStartedText = "Запущен сервис автоматической отправки почты";
constexpr const char* kResultPrefix = "Результат отправки: ";
constexpr const char* kCloseTitle = "Stop Service";
constexpr const char* kCloseText =
    "Are you sure you want to unload the service?...\r\nthe service will be stopped";
constexpr const char* kReloadedText = "Service reloaded: options.ini is in order";
constexpr const char* kReloadRefusedText =
    "Service reloaded: options.ini has errors, the service goes on as before\r\n";
constexpr const char* kSettingsNote = "ошибки в options.ini: ";

// The messages of a settings check on one line: "first; second".
std::string OneLine(std::string text) {
    while (text.ends_with("\r\n")) text.resize(text.size() - 2);
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.replace(at, 2, "; ");
    return text;
}

}  // namespace

frmService::frmService(FormParts parts)
    : parts_(parts),
      startupTimer_(parts.loop.CreateTimer([this] { OnStartupTimer(); })),
      tickTimer_(parts.loop.CreateTimer([this] { OnTick(); })),
      watchTimer_(parts.loop.CreateTimer([this] { OnWatch(); })) {
    // The start-up timer is on from the start, but with interval 0 it waits for the load
    // handler to give it one.
    startupTimer_->Enabled(true);
    tickTimer_->Interval(kTickMilliseconds);
    watchTimer_->Interval(kTickMilliseconds);
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
    RunCommand(
        [this] {
            parts_.control.Install();
            if (!parts_.control.HasSavedSetting("Parameters", "TimerInterval")) {
                parts_.control.SaveSetting("Parameters", "TimerInterval", kInstalledStartupDelay);
            }
        },
        ": установлено успешно.", ": ошибка при установке");
}

void frmService::UninstallService() {
    RunCommand([this] { parts_.control.Uninstall(); }, ": деинсталляция завершена",
               ": ошибка деинсталляции");
}

// Runs an install or uninstall; the message names the service as the control layer reads it
// back, and a failure also gives its reason on standard error.
void frmService::RunCommand(const std::function<void()>& command, const char* success,
                            const char* failure) {
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
        startupTimer_->Interval(ToInteger16(delay));
        watchTimer_->Enabled(true);
        Service_Start();
        if (startupTimer_->Interval() == 0) ReportReady();
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
    std::vector<std::string> notes;
    if (!silentNote_.empty()) notes.push_back(silentNote_);
    if (!settingsNote_.empty()) notes.push_back(settingsNote_);
    std::string line = StatusLine(state_.Paused, mail_, notes);
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

// A running cycle ends first, so that its files are deleted or moved, unless its folder does not
// answer; a send in progress asks the service manager for time as it moves.
void frmService::Service_Stop() {
    state_.StopFlag = true;
    if (ready_) parts_.control.SetStatus(kStoppingStatus);
    if (cycleRunning_ && silentFolder_.empty()) {
        WatchSend();
        return;
    }
    parts_.loop.Quit(kExitOk);
}

// A pause stops both timers, so that no cycle runs until the service continues.
void frmService::Service_Pause() {
    try {
        startupTimer_->Enabled(false);
        tickTimer_->Enabled(false);
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
        startupTimer_->Enabled(true);
        state_.Paused = false;
        LogInformation("Service continued");
        ShowStatus(true);
    } catch (...) {
        LogError(TrappedErrorText());
    }
}

void frmService::Service_Reload() {
    if (state_.Paused) {
        Service_Continue();
    } else if (cycleRunning_) {
        reloadWaits_ = true;
    } else {
        CheckOnReload();
    }
}

// A reload never stops the service: options.ini with errors is reported loudly (the journal, the
// status line until a check finds it mended) and the scan interval stays as it was.
void frmService::CheckOnReload() {
    const std::string problem = CheckAll();
    if (problem.empty()) {
        LogInformation(kReloadedText);
    } else {
        settingsNote_ = kSettingsNote + OneLine(problem);
        LogError(kReloadRefusedText + problem);
    }
    ShowStatus(true);
}

void frmService::Service_Control(int /*code*/) {}

// The check waits while a cycle runs (after a continue that came during one): the timer fires
// again.
void frmService::OnStartupTimer() {
    if (cycleRunning_) return;
    startupTimer_->Enabled(false);
    const std::string problem = CheckAll();
    if (!problem.empty()) {
        StopForBadSettings(problem);
        return;
    }
    ReportReady();
    tickTimer_->Enabled(true);
}

// The settings check of a start, a continue or a reload: "" when every setting holds (the scan
// interval and the answer timeout are then taken, and an earlier finding is forgotten), otherwise
// what it found.
std::string frmService::CheckAll() {
    try {
        std::string problem = parts_.work.CheckSettings();
        if (problem.empty()) problem = LoadCheckTicks();
        if (!problem.empty()) return problem;
        answerTimeout_ = parts_.work.AnswerTimeout();
        settingsNote_.clear();
        return "";
    } catch (...) {
        return TrappedErrorText();
    }
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
// while a cycle runs. Whatever happens in the cycle, the tick is switched on again afterwards,
// unless the service paused or stops meanwhile.
void frmService::OnTick() {
    ++state_.TickCount;
    if (state_.TickCount < state_.CheckTicks) return;
    state_.TickCount = 0;
    tickTimer_->Enabled(false);
    RunCycle();
}

// The cycle runs aside; its result, or its error, comes back to the loop.
void frmService::RunCycle() {
    cycleRunning_ = true;
    seenSteps_ = parts_.work.Progress().Steps();
    stillSeconds_ = 0;
    parts_.loop.RunAside([this] {
        CycleReport report;
        std::optional<std::string> error;
        try {
            report = parts_.work.ProcessMail();
        } catch (...) {
            error = TrappedErrorText();
        }
        parts_.loop.Post([this, report, error] { CycleEnded(report, error); });
    });
}

void frmService::CycleEnded(const CycleReport& report, const std::optional<std::string>& error) {
    cycleRunning_ = false;
    FolderAnswers();
    mail_ = parts_.work.Status();
    if (error) {
        LogError(*error);
    } else {
        ReportResult(report);
        ReportMailFolder(mail_.MissingMailFolder);
    }
    if (state_.StopFlag) {
        parts_.loop.Quit(kExitOk);
        return;
    }
    ShowStatus(false);
    if (reloadWaits_) {
        reloadWaits_ = false;
        CheckOnReload();
    }
    if (!state_.Paused) tickTimer_->Enabled(true);
}

// Every second the watchdog hears that the loop answers; while a cycle runs, a step of it counts
// as an answer of its folder, and a folder that has not answered for the timeout is reported.
void frmService::OnWatch() {
    parts_.control.KeepAlive();
    if (!cycleRunning_) return;
    const CycleProgress& progress = parts_.work.Progress();
    const std::uint64_t steps = progress.Steps();
    if (steps == seenSteps_) {
        ++stillSeconds_;
        WatchFolder(progress);
        return;
    }
    seenSteps_ = steps;
    stillSeconds_ = 0;
    FolderAnswers();
    WatchSend();
}

// While the service stops, a send that moves gets its time from the service manager.
void frmService::WatchSend() {
    if (state_.StopFlag && parts_.work.Progress().Phase() == CyclePhase::Sending) {
        parts_.control.ExtendStop(answerTimeout_ + kStopMarginSeconds);
    }
}

// Only a folder is reported: a send has its own time limits. A stop waits no longer for it.
void frmService::WatchFolder(const CycleProgress& progress) {
    const CyclePhase phase = progress.Phase();
    if (!silentFolder_.empty() || stillSeconds_ < answerTimeout_) return;
    if (phase != CyclePhase::MailFolder && phase != CyclePhase::LostFolder) return;
    const std::string folder = progress.Folder();
    const std::string since = LocalTimestamp(progress.Since());
    if (progress.Steps() != seenSteps_) return;  // it moved while it was read
    silentFolder_ = folder;
    silentNote_ = SilentFolderText(phase == CyclePhase::LostFolder, folder, since);
    LogError(silentNote_);
    if (state_.StopFlag) {
        parts_.loop.Quit(kExitOk);
        return;
    }
    ShowStatus(false);
}

// One information entry when the folder reported as not answering moves again.
void frmService::FolderAnswers() {
    if (silentFolder_.empty()) return;
    LogInformation(FolderAnswersText(silentFolder_));
    silentFolder_.clear();
    silentNote_.clear();
    if (!state_.StopFlag) ShowStatus(false);
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
void frmService::ReportResult(const CycleReport& report) {
    if (report.Text.empty()) return;
    try {
        parts_.work.WriteLog(kResultPrefix + report.Text);
    } catch (...) {
        LogError(TrappedErrorText());
    }
    switch (report.Weight) {
        case JournalWeight::None:
            break;
        case JournalWeight::Information:
            LogInformation(report.Text);
            break;
        case JournalWeight::Error:
            LogError(report.Text);
            break;
    }
}

void frmService::LogError(const std::string& text) {
    parts_.control.LogEvent(EventType::Error, kErrorEventId, text);
}

void frmService::LogInformation(const std::string& text) {
    parts_.control.LogEvent(EventType::Information, kInformationEventId, text);
}

}  // namespace quorvel
