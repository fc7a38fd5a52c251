#include <gtest/gtest.h>

#include <deque>
#include <sstream>

#include "base/Error.h"
#include "service/ScannerWork.h"
#include "service/frmService.h"
#include "support/ManualEventLoop.h"
#include "support/TempDir.h"
#include "support/TestServiceControl.h"

namespace quorvel {
namespace {

using testing::LoggedEvent;
using testing::ManualEventLoop;

const LoggedEvent kStarted{EventType::Information, 110,
                           "Запущен сервис автоматической отправки почты"};

// The mail side as a script: each cycle may take time on the loop's clock, return a result or
// throw; the check and the scan interval are set by the test.
class ScriptedWork final : public MailWork {
public:
    struct Cycle {
        long duration = 0;
        std::string result;
        bool fails = false;
    };

    explicit ScriptedWork(ManualEventLoop& loop) : loop_(loop) {}

    std::string problem;
    std::string interval = "5";
    std::deque<Cycle> cycles;
    std::vector<long> cycleStarts;
    std::vector<std::string> logLines;
    int checks = 0;
    bool logFails = false;

    std::string CheckSettings() override {
        ++checks;
        return problem;
    }
    std::string ScanInterval() override { return interval; }
    std::string ProcessMail() override {
        cycleStarts.push_back(loop_.Now());
        if (cycles.empty()) return "";
        Cycle cycle = cycles.front();
        cycles.pop_front();
        loop_.Sleep(cycle.duration);
        if (cycle.fails) throw Error(EACCES, "cannot delete /mail/buh/a.pdf: Permission denied");
        return cycle.result;
    }
    void WriteLog(std::string_view text) override {
        if (logFails) throw Error(ENOSPC, "cannot write mail.log: No space left on device");
        logLines.emplace_back(text);
    }

private:
    ManualEventLoop& loop_;
};

// The service form on a manual loop, around the scripted work or another one.
struct Harness {
    explicit Harness(MailWork* other = nullptr) : form({control, loop, other ? *other : work, prompt, out, err}) {}
    ManualEventLoop loop;
    testing::TestServiceControl control;
    testing::TestPrompt prompt;
    ScriptedWork work{loop};
    std::ostringstream out, err;
    frmService form;
};

class WorkLoopTest : public ::testing::Test, public Harness {
protected:

    // The load handler sets the 300 ms start-up delay; the check runs at 300 ms.
    void StartAndCheck() {
        form.Form_Load("");
        loop.RunFor(300);
    }
    static LoggedEvent ErrorEntry(const std::string& text) { return {EventType::Error, 109, text}; }
};

TEST_F(WorkLoopTest, CyclesRunEveryCheckTicksCountedFromTheEndOfTheLastOne) {
    work.cycles = {{2500, "", false}, {700, "", false}};
    StartAndCheck();
    loop.RunFor(20000);
    // First cycle at the 5th tick after the check; each later one 5 s after the last ended.
    EXPECT_EQ(work.cycleStarts, (std::vector<long>{5300, 12800, 18500}));
    EXPECT_EQ(work.checks, 1);
    EXPECT_EQ(control.starts, 1);
    EXPECT_EQ(control.events, std::vector<LoggedEvent>{kStarted});
    EXPECT_TRUE(work.logLines.empty());
}

TEST_F(WorkLoopTest, ScanIntervalFollowsTheNumericConversion) {
    const std::vector<std::pair<std::string, std::vector<long>>> cases = {
        {" 2.5 ", {2300, 4300}},            // half to even: 2
        {"0", {1300, 2300, 3300, 4300}},    // every tick
        {"-3", {1300, 2300, 3300, 4300}},
    };
    for (const auto& [interval, starts] : cases) {
        Harness h;
        h.work.interval = interval;
        h.form.Form_Load("");
        h.loop.RunFor(4300);
        EXPECT_EQ(h.work.cycleStarts, starts) << "[Main] Timer = " << interval;
    }
}

TEST_F(WorkLoopTest, ResultsGoToMailLogAndFailuresToTheEventLog) {
    const std::string failure = "Не удалось отправить файлы на адрес: buh(535 auth failed)";
    work.interval = "1";
    work.cycles = {{0, "", false}, {0, "ok", false}, {0, failure, false}};
    StartAndCheck();
    loop.RunFor(3000);
    EXPECT_EQ(work.logLines, (std::vector<std::string>{"Результат отправки: ok",
                                                       "Результат отправки: " + failure}));
    EXPECT_EQ(control.events, (std::vector<LoggedEvent>{kStarted, ErrorEntry(failure)}));
}

TEST_F(WorkLoopTest, ErrorsInACycleAreReportedAndTheTickGoesOn) {
    const std::string failure = "Не удалось отправить файлы на адрес: buh(timeout)";
    work.interval = "1";
    work.cycles = {{0, "", true}, {0, "ok", false}};
    StartAndCheck();
    loop.RunFor(2000);
    EXPECT_EQ(work.cycleStarts, (std::vector<long>{1300, 2300}));
    EXPECT_EQ(work.logLines, std::vector<std::string>{"Результат отправки: ok"});

    // A failure still reaches the event log when mail.log cannot take it.
    work.logFails = true;
    work.cycles = {{0, failure, false}};
    loop.RunFor(1000);
    EXPECT_EQ(control.events,
              (std::vector<LoggedEvent>{
                  kStarted, ErrorEntry("[13] cannot delete /mail/buh/a.pdf: Permission denied"),
                  ErrorEntry("[28] cannot write mail.log: No space left on device"),
                  ErrorEntry(failure)}));
    EXPECT_EQ(work.cycleStarts.size(), 3u);
    EXPECT_FALSE(loop.QuitStatus());
}

// The real settings check against a folder of our own: a problem found is one event log entry,
// its values with their control characters replaced, and a stop with status 78.
TEST_F(WorkLoopTest, SettingsProblemsAndErrorsInTheCheckStopTheService) {
    testing::TempDir dir;
    const std::string full =
        "[Main]\nMailFolder=/m\nMail=a@b.c\nLostFolder=/l\nTimer=%s\n"
        "[SMTP]\nServer=s\nPort=25\nUser=u\nPassword=p\nTimeout=10\n";
    auto withTimer = [&](const std::string& value) {
        std::string text = full;
        return text.replace(text.find("%s"), 2, value);
    };
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases = {
        {std::nullopt, "Не найден файл настроек " + (dir / "options.ini").string()},
        {withTimer("abc"), "Неверно задан интервал проверки: [Main] Timer = \"abc\"\r\n"},
        {withTimer("40000"), "Неверно задан интервал проверки: [Main] Timer = \"40000\"\r\n"},
        {withTimer("5\x1b[2J"), "Неверно задан интервал проверки: [Main] Timer = \"5_[2J\"\r\n"},
        {withTimer("1").replace(full.find("/l\n"), 2, "/m/l"),
         "Каталог неотправленной почты не может совпадать с каталогом почты или лежать с ним один в другом: "
         "[Main] MailFolder = \"/m\", [Main] LostFolder = \"/m/l\"\r\n"},
    };
    SystemClock clock;
    for (const auto& [options, entry] : cases) {
        std::filesystem::remove(dir / "options.ini");
        if (options) testing::WriteFile(dir / "options.ini", *options);
        testing::TestServiceControl journal;
        ScannerWork scanner(dir.Path(), clock, journal);
        Harness h(&scanner);
        h.form.Form_Load("");
        h.loop.RunFor(300);
        EXPECT_EQ(h.control.events, (std::vector<LoggedEvent>{kStarted, ErrorEntry(entry)}));
        EXPECT_EQ(h.control.stops, 1);
        EXPECT_TRUE(h.form.State().StopFlag);
        EXPECT_EQ(h.loop.QuitStatus(), 78);
    }
}

TEST_F(WorkLoopTest, PauseStopsCyclesAndContinueChecksAgainWithoutResettingTheCount) {
    StartAndCheck();
    loop.RunFor(3200);                 // ticks at 1300, 2300, 3300: TickCount 3
    form.Service_Pause();
    loop.RunFor(20000);
    EXPECT_TRUE(work.cycleStarts.empty());

    form.Service_Continue();           // check at +300, then ticks count on from 3
    loop.RunFor(2300);
    EXPECT_EQ(work.checks, 2);
    EXPECT_EQ(work.cycleStarts, std::vector<long>{23500 + 300 + 2000});
    EXPECT_EQ(control.events,
              (std::vector<LoggedEvent>{kStarted, ErrorEntry("Service paused"),
                                        {EventType::Information, 110, "Service continued"}}));
}

TEST_F(WorkLoopTest, CloseAsksFirstAndStopEndsWithStatus0) {
    work.interval = "1";
    StartAndCheck();
    form.Form_QueryUnload();
    EXPECT_EQ(prompt.title, "Stop Service");
    EXPECT_EQ(prompt.text,
              "Are you sure you want to unload the service?...\r\nthe service will be stopped");
    loop.RunFor(2000);                 // the loop goes on while the question is open
    EXPECT_EQ(work.cycleStarts.size(), 2u);
    prompt.Answer(false);
    loop.RunFor(1000);
    EXPECT_EQ(work.cycleStarts.size(), 3u);
    EXPECT_FALSE(loop.QuitStatus());

    form.Form_QueryUnload();
    prompt.Answer(true);
    EXPECT_EQ(control.stops, 1);
    EXPECT_TRUE(form.State().StopFlag);
    EXPECT_EQ(loop.QuitStatus(), 0);
    EXPECT_EQ(control.events, std::vector<LoggedEvent>{kStarted});
}

}  // namespace
}  // namespace quorvel
