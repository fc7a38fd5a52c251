#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <sstream>

#include "app/StatusLine.h"
#include "app/frmService.h"
#include "base/Error.h"
#include "base/Utf8Text.h"
#include "log/MailLog.h"
#include "loop/TimerSchedule.h"

namespace quorvel {
namespace {

const std::string kStarted = "4/110 Запущен сервис автоматической отправки почты";
const std::string kIdle = "STATUS=Работает; отправок ещё не было";
const MailStatus kSent{"07.12.2026 10:00:00", "ok", "", {}, "", ""};
std::string ErrorEntry(const std::string& text) { return "1/109 " + text; }

// One scripted scan cycle: the time it takes, its result, the status it leaves, and its fault: the
// cycle ends in an error, or mail.log cannot take its result.
enum Fault { kNone, kThrows, kLogFull };
using Cycle = std::tuple<long, CycleReport, MailStatus, Fault>;

// The work loop on a clock that moves only when the test says so, around a scripted mail side; the
// service manager and the event log ("type/id text") are recorded, the close prompt's answer kept.
// The timers keep the production schedule; RunFor fires those that fall due, earliest first, and
// runs what was posted after each. A cycle runs aside at once, or, with `hold`, when the test calls
// `held`.
class WorkLoopTest : public ::testing::Test, EventLoop, ServiceControl, ClosePrompt, MailWork {
protected:
    struct ManualTimer final : LoopTimer {
        ManualTimer(WorkLoopTest& loop, std::function<void()> handler)
            : loop(loop), handler(std::move(handler)) {
            loop.timers.push_back(this);
        }
        ~ManualTimer() override { std::erase(loop.timers, this); }
        void Interval(int milliseconds) override { schedule.Interval(milliseconds, loop.now); }
        int Interval() const override { return schedule.Interval(); }
        void Enabled(bool on) override { schedule.Enabled(on, loop.now); }
        bool Enabled() const override { return schedule.Enabled(); }
        long Due() const { return schedule.Armed() ? schedule.Due() : LONG_MAX; }
        TimerSchedule schedule;
        WorkLoopTest& loop;
        std::function<void()> handler;
    };

    void RunFor(long milliseconds) {
        const long until = now + milliseconds;
        while (!quit) {
            while (!posted.empty() && !quit)
                std::exchange(posted.front(), {})(), posted.pop_front();
            ManualTimer* next = *std::ranges::min_element(timers, {}, &ManualTimer::Due);
            if (quit || next->Due() > until) break;
            now = std::max(now, next->Due());
            const unsigned generation = next->schedule.Generation();
            next->handler();
            next->schedule.Fired(generation, now);
        }
        now = std::max(now, until);
    }
    // The load handler sets the 300 ms start-up delay; the check runs at 300 ms.
    void SetUp() override { form.Form_Load(""); }
    std::unique_ptr<LoopTimer> CreateTimer(std::function<void()> handler) override {
        return std::make_unique<ManualTimer>(*this, std::move(handler));
    }
    void Quit(int status) override { quit = quit.value_or(status); }
    void Post(std::function<void()> handler) override { posted.push_back(std::move(handler)); }
    void RunAside(std::function<void()> job) override {
        hold ? void(held = std::move(job)) : job();
    }

    std::string ServiceName() const override { return ""; }
    std::string DisplayName() const override { return ""; }
    void Install() override {}
    void Uninstall() override {}
    void StartService() override { notices.push_back("READY=1"); }
    void StopService() override { notices.push_back("STOPPING=1"); }
    void KeepAlive() override { ++keepAlives; }
    void ExtendStop(long) override {}
    void SetStatus(std::string_view text) override { notices.emplace_back("STATUS=") += text; }
    void LogEvent(EventType type, int id, std::string_view text) override {
        events.push_back(std::to_string(int(type)) + "/" + std::to_string(id) + " " += text);
    }
    void SaveSetting(const std::string&, const std::string&, const std::string&) override {}
    std::string GetSetting(const std::string&, const std::string&,
                           const std::string& value) const override {
        return value;
    }
    void Ask(const std::string&, const std::string&, std::function<void(bool)> answered) override {
        answer = std::move(answered);
    }

    std::string CheckSettings() override { return ++checks, problem; }
    std::string ScanInterval() override { return interval; }
    long AnswerTimeout() override { return 3; }
    const CycleProgress& Progress() const override { return progress; }
    CycleReport ProcessMail() override {
        starts.push_back(now);
        if (cycles.empty()) return {};
        const auto [duration, result, next, fault] = cycles.front();
        cycles.pop_front();
        now += duration;
        status = next;
        logFull = fault == kLogFull;
        if (fault == kThrows)
            throw Error(EACCES, "cannot delete /mail/buh/a.pdf: Permission denied");
        return result;
    }
    MailStatus Status() const override { return status; }
    void WriteLog(std::string_view text) override {
        if (logFull) throw Error(ENOSPC, "cannot write mail.log: No space left on device");
        logLines.emplace_back(text);
    }
    int TestSettings(std::ostream&) override { return 0; }
    long now = 0;
    std::optional<int> quit;
    std::deque<std::function<void()>> posted;
    std::vector<ManualTimer*> timers;
    bool hold = false, logFull = false;
    std::function<void()> held;
    std::function<void(bool)> answer;
    CycleProgress progress;
    std::string problem, interval = "5";
    int keepAlives = 0, checks = 0;
    std::vector<std::string> events, notices, logLines;
    std::deque<Cycle> cycles;
    std::vector<long> starts;
    MailStatus status;
    std::ostringstream out, err;
    frmService form{{*this, *this, *this, *this, out, err}};
};

// Cycles run every [Main] Timer ticks, counted from the end of the last one. A pause stops them; a
// continue checks the settings again and the count goes on, and so does a reload that finds errors.
// The loop goes on while the question before a close is open, and a Yes stops the service with
// status 0.
TEST_F(WorkLoopTest, CyclesRunEveryCheckTicksUnlessPausedAndCloseAsksFirst) {
    cycles = {{2500, {}, {}, kNone}, {700, {}, {}, kNone}};
    RunFor(20300);  // one tick counted after the third cycle
    form.Service_Pause();
    RunFor(20000);
    form.Service_Continue();
    RunFor(5000);
    problem = "x\r\n";  // a reload with errors keeps the cycles going
    form.Service_Reload();
    form.Form_QueryUnload();
    RunFor(5000);
    answer(false);
    RunFor(5000);
    form.Form_QueryUnload();
    answer(true);
    EXPECT_EQ(starts, (std::vector<long>{5300, 12800, 18500, 40300 + 300 + 4000, 49600, 54600}));
    EXPECT_EQ(checks, 3) << "at the start, the continue and the reload";
    EXPECT_EQ(notices,
              (std::vector<std::string>{
                  "READY=1", kIdle, "STATUS=Приостановлена; отправок ещё не было", kIdle, kIdle,
                  kIdle + "; ошибки в options.ini: x", "STOPPING=1", "STATUS=Остановка"}));
    EXPECT_EQ(events, (std::vector<std::string>{
                          kStarted, ErrorEntry("Service paused"), "4/110 Service continued",
                          ErrorEntry("Service reloaded: options.ini has errors, the service goes "
                                     "on as before\r\nx\r\n")}));
    EXPECT_EQ(quit, 0);
}

// Results go to mail.log, failures to the event log too (even when mail.log cannot take them), a
// send put off as information; the status line follows every change; a missing mail folder is one
// entry however long, and its return one; an error in a cycle is reported and the tick goes on.
// A [Main] Timer that does not convert, found by the check after a continue, is a settings
// problem: one entry with the control characters replaced, and a stop with status 78.
TEST_F(WorkLoopTest, ResultsGoToTheLogsAndChangesToTheStatusLine) {
    const std::string failure = "Не удалось отправить файлы на адрес: buh(535 auth failed)";
    const std::string deferred = "Отправка отложена до 11:00:00: " + failure;
    const MailStatus failed{"07.12.2026 10:00:02", failure, "", {}, "", ""};
    const MailStatus missing{failed.LastSendTime, failure, "", {}, "/m", ""};
    interval = "0";  // every tick
    using enum JournalWeight;
    cycles = {{0, {}, MailStatus{}, kThrows},
              {0, {"ok"}, kSent, kNone},
              {0, {failure, Error}, failed, kNone},
              {0, {}, missing, kNone},
              {0, {}, missing, kNone},
              {0, {deferred, Information}, failed, kNone},
              {0, {"timeout", Error}, failed, kLogFull}};
    RunFor(9300);
    form.Service_Pause();
    EXPECT_EQ(starts.size(), 9u) << "the tick goes on after an error";
    interval = "5\x1b[2J";
    form.Service_Continue();
    RunFor(300);
    EXPECT_EQ(logLines,
              (std::vector<std::string>{"Результат отправки: ok", "Результат отправки: " + failure,
                                        "Результат отправки: " + deferred}));
    EXPECT_EQ(events,
              (std::vector<std::string>{
                  kStarted, ErrorEntry("[13] cannot delete /mail/buh/a.pdf: Permission denied"),
                  ErrorEntry(failure), ErrorEntry("Не найден каталог почты /m"),
                  "4/110 " + deferred, "4/110 Каталог почты снова доступен: /m",
                  ErrorEntry("[28] cannot write mail.log: No space left on device"),
                  ErrorEntry("timeout"), ErrorEntry("Service paused"), "4/110 Service continued",
                  ErrorEntry("Неверно задан интервал проверки: [Main] Timer = \"5_[2J\"\r\n")}));
    const std::string last = "; последняя отправка 07.12.2026 10:00:02: " + failure;
    EXPECT_EQ(
        notices,
        (std::vector<std::string>{
            "READY=1", kIdle, "STATUS=Работает; последняя отправка 07.12.2026 10:00:00: ok",
            "STATUS=Работает" + last, "STATUS=Работает" + last + "; не найден каталог почты /m",
            "STATUS=Работает" + last, "STATUS=Приостановлена" + last, "STATUS=Работает" + last,
            "STOPPING=1"}));
    EXPECT_EQ(quit, 78);
}

// The cycle runs aside while the loop goes on: the watchdog is fed, a folder that leaves a call
// unanswered for the timeout (3 s here) is one error entry and a note on the status line, and its
// next step one information entry. A stop waits for the cycle until its folder does not answer.
TEST_F(WorkLoopTest, AFolderThatDoesNotAnswerIsReportedAndHoldsNoStop) {
    const auto since = std::chrono::system_clock::time_point(std::chrono::hours(493000));
    const std::string silent = "Каталог почты /m не отвечает с " + LocalTimestamp(since);
    cycles = {{0, {"ok"}, kSent, kNone}};
    hold = true;
    RunFor(5300);
    progress.Enter(CyclePhase::MailFolder, "/m", since);
    RunFor(4000);
    progress.Enter(CyclePhase::LostFolder, "/l", since);
    RunFor(1000);
    std::exchange(held, nullptr)();
    RunFor(5000);  // the next cycle
    progress.Enter(CyclePhase::MailFolder, "/m", since);
    form.Service_Stop();
    RunFor(3000);
    EXPECT_FALSE(quit) << "the folder may still answer";
    RunFor(1000);
    EXPECT_EQ(quit, 0);
    EXPECT_EQ(starts, std::vector<long>{10300}) << "the held cycle ran when released";
    EXPECT_EQ(keepAlives, 19);
    EXPECT_EQ(events,
              (std::vector<std::string>{kStarted, ErrorEntry(silent),
                                        "4/110 Каталог снова отвечает: /m", ErrorEntry(silent)}));
    EXPECT_EQ(notices, (std::vector<std::string>{
                           "READY=1", kIdle, kIdle + "; " + silent, kIdle,
                           "STATUS=Работает; последняя отправка 07.12.2026 10:00:00: ok",
                           "STATUS=Остановка"}));
}

// The status line stays below systemd's limit, whole pieces while they fit, the rest counted; a
// result too long on its own is cut between characters. Line ends in names become "_".
TEST(StatusLineTest, CutBelowTheLimitWithACountOfWhatWasLeftOut) {
    MailStatus status{"07.12.2026 10:00:00", "ok", "", {}, "", ""};
    for (int i = 0; i < 300; ++i) status.Retries.push_back({"папка" + std::to_string(i), "11:00"});
    const std::string line = StatusLine(false, status);
    EXPECT_TRUE(line.ends_with(", папка133 до 11:00; … и ещё 166"));
    status.LastResult = "ж" + std::string(5000, 'x');
    EXPECT_TRUE(StatusLine(false, status).ends_with("x…; … и ещё 300"));
    EXPECT_EQ(StatusLine(false, status).size(), 3522u);
    EXPECT_TRUE(
        StatusLine(true, {"", "", "a\nb", {}, "", "/l"})
            .ends_with(
                "; каталог заменён, отправка остановлена: /l; ждёт заблокированный файл: a_b"))
        << "one line";
}

}  // namespace
}  // namespace quorvel
