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

const std::string kIdle = "STATUS=Работает; отправок ещё не было";

// The mail side as a script: each cycle may take time on the loop's clock, return a result or
// throw, and leave a status; the check and the scan interval are set by the test.
class ScriptedWork final : public MailWork {
public:
    struct Cycle {
        long duration = 0;
        std::string result;
        bool fails = false;
        MailStatus status;
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
        status_ = cycle.status;
        if (cycle.fails) throw Error(EACCES, "cannot delete /mail/buh/a.pdf: Permission denied");
        return cycle.result;
    }
    MailStatus Status() const override { return status_; }
    void WriteLog(std::string_view text) override {
        if (logFails) throw Error(ENOSPC, "cannot write mail.log: No space left on device");
        logLines.emplace_back(text);
    }
    int TestSettings(std::ostream&) override { return 69; }

private:
    ManualEventLoop& loop_;
    MailStatus status_;
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
    work.cycles = {{2500, "", false, {}}, {700, "", false, {}}};
    StartAndCheck();
    loop.RunFor(20000);
    // First cycle at the 5th tick after the check; each later one 5 s after the last ended.
    EXPECT_EQ(work.cycleStarts, (std::vector<long>{5300, 12800, 18500}));
    EXPECT_EQ(work.checks, 1);
    EXPECT_EQ(control.notices, (std::vector<std::string>{"READY=1", kIdle}));
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

// Results go to mail.log, failures to the event log too; the status line follows every change.
TEST_F(WorkLoopTest, ResultsGoToTheLogsAndChangesToTheStatusLine) {
    const std::string failure = "Не удалось отправить файлы на адрес: buh(535 auth failed)";
    const MailStatus sent{"07.12.2026 10:00:00", "ok", "", {}, ""};
    const MailStatus failed{"07.12.2026 10:00:02", failure, "", {}, ""};
    const MailStatus waiting{failed.LastSendTime, failure, "buh\n2", {{"a", "11:00"}, {"b", "12:00"}}, ""};
    work.interval = "1";
    work.cycles = {{0, "", false, {}}, {0, "ok", false, sent}, {0, failure, false, failed},
                   {0, "", false, waiting}, {0, "", false, waiting}};
    StartAndCheck();
    loop.RunFor(5000);
    form.Service_Pause();
    EXPECT_EQ(work.logLines, (std::vector<std::string>{"Результат отправки: ok",
                                                       "Результат отправки: " + failure}));
    EXPECT_EQ(control.events, (std::vector<LoggedEvent>{kStarted, ErrorEntry(failure),
                                                        ErrorEntry("Service paused")}));
    const std::string last = "; последняя отправка 07.12.2026 10:00:02: " + failure;
    const std::string lock = "; ждёт заблокированный файл: buh_2; ждут повторной отправки: a до 11:00, b до 12:00";
    EXPECT_EQ(control.notices, (std::vector<std::string>{
                                   "READY=1", kIdle,
                                   "STATUS=Работает; последняя отправка 07.12.2026 10:00:00: ok",
                                   "STATUS=Работает" + last, "STATUS=Работает" + last + lock,
                                   "STATUS=Приостановлена" + last + lock}));
}

TEST_F(WorkLoopTest, ErrorsInACycleAreReportedAndTheTickGoesOn) {
    const std::string failure = "Не удалось отправить файлы на адрес: buh(timeout)";
    work.interval = "1";
    work.cycles = {{0, "", true, {}}, {0, "ok", false, {}}};
    StartAndCheck();
    loop.RunFor(2000);
    EXPECT_EQ(work.cycleStarts, (std::vector<long>{1300, 2300}));
    EXPECT_EQ(work.logLines, std::vector<std::string>{"Результат отправки: ok"});

    // A failure still reaches the event log when mail.log cannot take it.
    work.logFails = true;
    work.cycles = {{0, failure, false, {}}};
    loop.RunFor(1000);
    EXPECT_EQ(control.events,
              (std::vector<LoggedEvent>{
                  kStarted, ErrorEntry("[13] cannot delete /mail/buh/a.pdf: Permission denied"),
                  ErrorEntry("[28] cannot write mail.log: No space left on device"),
                  ErrorEntry(failure)}));
    EXPECT_EQ(work.cycleStarts.size(), 3u);
    EXPECT_FALSE(loop.QuitStatus());
}

std::string OptionsText(const std::string& mailFolder, const std::string& timer) {
    return "[Main]\nMailFolder=" + mailFolder + "\nMail=a@b.c\nLostFolder=/l\nTimer=" + timer +
           "\n[SMTP]\nServer=s\nPort=25\nUser=u\nPassword=p\nTimeout=10\n";
}

// The real settings check against a folder of our own: a problem found is one event log entry,
// its values with their control characters replaced, and a stop with status 78; the service
// manager never hears that the service was ready.
TEST_F(WorkLoopTest, SettingsProblemsAndErrorsInTheCheckStopTheService) {
    testing::TempDir dir;
    auto withTimer = [](const std::string& value) { return OptionsText("/m", value); };
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases = {
        {std::nullopt, "Не найден файл настроек " + (dir / "options.ini").string()},
        {withTimer("abc"), "Неверно задан интервал проверки: [Main] Timer = \"abc\"\r\n"},
        {withTimer("40000"), "Неверно задан интервал проверки: [Main] Timer = \"40000\"\r\n"},
        {withTimer("5\x1b[2J"), "Неверно задан интервал проверки: [Main] Timer = \"5_[2J\"\r\n"},
        {OptionsText("/m", "1").replace(OptionsText("/m", "1").find("/l\n"), 2, "/m/l"),
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
        EXPECT_EQ(h.control.notices, std::vector<std::string>{"STOPPING=1"});
        EXPECT_TRUE(h.form.State().StopFlag);
        EXPECT_EQ(h.loop.QuitStatus(), 78);
    }
}

// The real scanner: a missing mail folder (or a file in its place) is one error entry however many
// ticks pass, and its return one information entry.
TEST_F(WorkLoopTest, AMissingMailFolderIsReportedOnceAndItsReturnOnce) {
    testing::TempDir dir;
    const std::string mail = (dir / "mail").string();
    testing::WriteFile(dir / "options.ini", OptionsText(mail + "/", "1"));
    SystemClock clock;
    testing::TestServiceControl journal;
    ScannerWork scanner(dir.Path(), clock, journal);
    Harness h(&scanner);
    h.form.Form_Load("");
    h.loop.RunFor(4300);
    testing::WriteFile(mail, "not a folder");
    h.loop.RunFor(3000);
    std::filesystem::remove(mail);
    std::filesystem::create_directory(mail);
    h.loop.RunFor(3000);
    EXPECT_EQ(h.control.events,
              (std::vector<LoggedEvent>{kStarted, ErrorEntry("Не найден каталог почты " + mail),
                                        {EventType::Information, 110, "Каталог почты снова доступен: " + mail}}));
    EXPECT_EQ(h.control.notices, (std::vector<std::string>{
                                     "READY=1", kIdle, kIdle + "; не найден каталог почты " + mail, kIdle}));
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
    EXPECT_EQ(control.notices, (std::vector<std::string>{"READY=1", kIdle, "STATUS=Приостановлена; отправок ещё не было", kIdle, kIdle}));
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
    EXPECT_EQ(control.notices, (std::vector<std::string>{"READY=1", kIdle, "STOPPING=1", "STATUS=Остановка"}));
    EXPECT_TRUE(form.State().StopFlag);
    EXPECT_EQ(loop.QuitStatus(), 0);
    EXPECT_EQ(control.events, std::vector<LoggedEvent>{kStarted});
}

}  // namespace
}  // namespace quorvel
