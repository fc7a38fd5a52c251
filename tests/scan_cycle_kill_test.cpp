#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <random>
#include <thread>

#include "support/ScanCycleFixture.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Killed at any instant, a cycle leaves every file of its batch in the mail folder, in the lost
// folder, or delivered; a file may briefly be in two of these, never in none. What a killed move
// leaves behind is removed when the service starts.
class ScanCycleKillTest : public testing::ScanCycleFixture {
protected:
    // Drops a batch of three files, runs one cycle in a child killed after `delay` (never when
    // negative), and checks that each file is somewhere.
    void CycleKilledAfter(int run, std::chrono::microseconds delay, const fs::path& lost) {
        std::vector<std::pair<std::string, std::string>> batch;
        for (int j = 0; j < 3; ++j) {
            batch.emplace_back("run" + std::to_string(run) + "-" + std::to_string(j) + ".bin",
                               std::string(100000 + 1000 * j + run, static_cast<char>('a' + j)));
            testing::WriteFile(Mail() / "buh" / batch.back().first, batch.back().second);
        }
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                scanner_.ProcessMail();
            } catch (...) {
            }
            ::_exit(0);
        }
        if (delay.count() >= 0) {
            std::this_thread::sleep_for(delay);
            ::kill(child, SIGKILL);
        }
        ::waitpid(child, nullptr, 0);
        const auto messages = server_.Messages();
        for (const auto& [name, content] : batch) {
            bool found = false;
            for (const auto& folder : {Mail() / "buh", lost / "buh"}) {
                std::error_code ec;
                for (const auto& entry : fs::directory_iterator(folder, ec)) {
                    found |= entry.path().filename().string().rfind(name.substr(0, name.size() - 4), 0) == 0 &&
                             testing::ReadFile(entry.path()) == content;
                }
            }
            for (const auto& message : messages) {
                for (const auto& a : message.Attachments) found |= a.FileName == name && a.Data == content;
            }
            EXPECT_TRUE(found) << name << " is nowhere";
        }
        for (const auto& entry : fs::directory_iterator(Mail() / "buh")) fs::remove(entry.path());
    }
};

TEST_F(ScanCycleKillTest, NoFileIsLostWhereverTheCycleIsKilled) {
    std::optional<testing::TempDir> otherFs;
    if (!testing::SameFileSystem(app_.Path(), "/dev/shm")) otherFs.emplace("/dev/shm");
    const fs::path otherLost = otherFs ? otherFs->Path() / "lost" : Lost();

    // One undisturbed cycle of each kind tells how long a cycle takes here.
    Clock::duration longest{};
    for (int calibration : {-1, -2}) {
        WriteSettings(Mail().string(), otherLost.string(), calibration == -1 ? "secret" : "wrong");
        auto start = Clock::now();
        CycleKilledAfter(calibration, std::chrono::microseconds(-1), otherLost);
        longest = std::max(longest, Clock::now() - start);
    }
    std::random_device seedSource;
    const unsigned seed = seedSource();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(longest).count() * 6 / 5;
    std::uniform_int_distribution<long> delay(0, std::max<long>(span, 1000));
    for (int run = 0; run < 40; ++run) {
        fs::path lost = run % 4 == 3 ? otherLost : Lost();
        WriteSettings(Mail().string(), lost.string(), run % 2 == 0 ? "secret" : "wrong");
        CycleKilledAfter(run, std::chrono::microseconds(delay(random)), lost);
    }
    WriteSettings(Mail().string(), otherLost.string(), "secret");
    testing::WriteFile(otherLost / "buh/.quorvel-copy-9", "left by a killed move");
    scanner_.RemoveStaleCopies();
    for (const auto& entry : fs::directory_iterator(otherLost / "buh")) {
        EXPECT_NE(entry.path().filename().string()[0], '.') << "a temporary copy was left: " << entry.path();
    }
}

}  // namespace
}  // namespace quorvel
