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
// folder, or delivered; a file may briefly be in two of these, never in none.
class ScanCycleKillTest : public testing::ScanCycleFixture {
protected:
    struct Dropped {
        std::string name;
        std::string content;
    };

    std::vector<Dropped> DropBatch(int run) {
        std::vector<Dropped> batch;
        for (int j = 0; j < 3; ++j) {
            std::string name = "run" + std::to_string(run) + "-" + std::to_string(j) + ".bin";
            std::string content(100000 + 1000 * j + run, static_cast<char>('a' + j));
            testing::WriteFile(Mail() / "buh" / name, content);
            batch.push_back({name, content});
        }
        return batch;
    }

    // Runs one cycle in a child process and kills it after `delay` (never, when negative).
    void CycleKilledAfter(std::chrono::microseconds delay) {
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
        int status = 0;
        ::waitpid(child, &status, 0);
    }

    static bool HoldsContent(const fs::path& folder, const Dropped& file) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.path().filename().string().rfind(file.name.substr(0, file.name.size() - 4), 0) == 0 &&
                testing::ReadFile(entry.path()) == file.content) {
                return true;
            }
        }
        return false;
    }

    bool Delivered(const Dropped& file) const {
        for (const auto& message : server_.Messages()) {
            for (const auto& attachment : message.Attachments) {
                if (attachment.FileName == file.name && attachment.Data == file.content) return true;
            }
        }
        return false;
    }

    void ExpectNothingLost(const std::vector<Dropped>& batch, const fs::path& lost) {
        for (const Dropped& file : batch) {
            EXPECT_TRUE(HoldsContent(Mail() / "buh", file) || HoldsContent(lost / "buh", file) || Delivered(file))
                << file.name << " is nowhere";
        }
        for (const auto& entry : fs::directory_iterator(Mail() / "buh")) fs::remove(entry.path());
    }
};

TEST_F(ScanCycleKillTest, NoFileIsLostWhereverTheCycleIsKilled) {
    std::optional<testing::TempDir> otherFs;
    if (!testing::SameFileSystem(app_.Path(), "/dev/shm")) otherFs.emplace("/dev/shm");

    // One undisturbed cycle of each kind tells how long a cycle takes here.
    Clock::duration longest{};
    for (int calibration : {-1, -2}) {
        WriteSettings(Mail().string(), Lost().string(), calibration == -1 ? "secret" : "wrong");
        auto batch = DropBatch(calibration);
        auto start = Clock::now();
        CycleKilledAfter(std::chrono::microseconds(-1));
        longest = std::max(longest, Clock::now() - start);
        ExpectNothingLost(batch, Lost());
    }

    std::random_device seedSource;
    const unsigned seed = seedSource();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(longest).count() * 6 / 5;
    std::uniform_int_distribution<long> delay(0, std::max<long>(span, 1000));
    for (int run = 0; run < 40; ++run) {
        fs::path lost = (run % 4 == 3 && otherFs) ? otherFs->Path() : Lost();
        WriteSettings(Mail().string(), lost.string(), run % 2 == 0 ? "secret" : "wrong");
        auto batch = DropBatch(run);
        CycleKilledAfter(std::chrono::microseconds(delay(random)));
        ExpectNothingLost(batch, lost);
    }
}

}  // namespace
}  // namespace quorvel
