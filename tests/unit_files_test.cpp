#include <gtest/gtest.h>

#include <asio/steady_timer.hpp>

#include <regex>

#include "service/AsioTimer.h"
#include "service/JournalLog.h"
#include "service/SettingsTest.h"
#include "service/UnitFiles.h"
#include "settings/CheckSettings.h"
#include "settings/StartupRules.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

// A parameter replaces its own line and keeps the others; '%', '$', quotes and blanks are escaped.
// The unit starts after the network and is hardened to an exposure of 3.0 or less, as
// `systemd-analyze security` rates it, without hiding any folder an administrator may use.
TEST(UnitFilesTest, EscapedParametersAndAHardenedUnitThatWaitsForTheNetwork) {
    const std::string dropIn = WithEnvironmentSetting("", "TimerInterval", "300");
    EXPECT_EQ(WithEnvironmentSetting(dropIn + "Environment=\"Other=x\"\n", "TimerInterval", "1000"),
              "[Service]\nEnvironment=\"Other=x\"\nEnvironment=\"TimerInterval=1000\"\n");
    EXPECT_EQ(WithEnvironmentSetting("", "K", "50% \"q\""), "[Service]\nEnvironment=\"K=50%% \\\"q\\\"\"\n");
    EXPECT_NE(UnitFileText("d", "/opt/my apps/100%/$quorvel-server").find("ExecStart=\"/opt/my apps/100%%/$$quorvel-server\"\n"),
              std::string::npos);
    testing::TempDir dir;
    const std::string unit = UnitFileText("Служба", "/opt/quorvel/quorvel-server");
    EXPECT_NE(unit.find("[Unit]\nDescription=Служба\nWants=network-online.target\nAfter=network-online.target\n"), std::string::npos);
    EXPECT_NE(unit.find("\nWatchdogSec=30\n"), std::string::npos);
    for (const char* hiding : {"ProtectHome", "PrivateTmp", "InaccessiblePaths", "ReadOnlyPaths", "TemporaryFileSystem",
                               "ProtectSystem=strict", "PrivateNetwork", "UMask"}) {
        EXPECT_EQ(unit.find(hiding), std::string::npos) << hiding;
    }
    testing::WriteFile(dir / "QuorvelServer.service", unit);
    if (std::system(("systemd-analyze security --offline=yes --no-pager " + (dir / "QuorvelServer.service").string() + " >" +
                     (dir / "report").string() + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "systemd-analyze security --offline=yes is not available here";
    }
    const std::string report = testing::ReadFile(dir / "report");
    std::smatch level;
    ASSERT_TRUE(std::regex_search(report, level, std::regex(R"(Overall exposure level for \S+: ([0-9.]+))")));
    EXPECT_LE(std::stod(level[1]), 3.0) << report;
}

// The README's sample options.ini is the example that is installed, and the settings check
// accepts it as it stands.
TEST(InstallTest, TheReadmeSampleIsTheInstalledExampleAndPassesTheSettingsCheck) {
    const std::string readme = testing::ReadFile(QUORVEL_TESTS_DIR "/../README.md");
    const std::size_t start = readme.find("```ini\n") + 7;
    const std::string sample = readme.substr(start, readme.find("```\n", start) - start);
    EXPECT_EQ(sample, testing::ReadFile(QUORVEL_TESTS_DIR "/../options.ini.example"));
    testing::TempDir dir;
    testing::WriteFile(dir / "options.ini", sample);
    clsINI Ini;
    EXPECT_EQ(CheckSettings(dir.Path(), Ini, MailLog(dir.Path(), SystemClock())), "");
    EXPECT_EQ(CheckStartupRules(Ini, dir.Path()), "");
    EXPECT_EQ(ValueFindings(Ini, dir.Path()), std::vector<std::string>{});
}

// `make package` builds a .deb that installs the executable and the example, readable by root
// and its group only, under /opt/quorvel.
TEST(InstallTest, TheDebianPackageHoldsTheExecutableAndTheExample) {
    testing::TempDir dir;
    const std::string deb = dir.Path().string() + "/*.deb";
    ASSERT_EQ(std::system(("cd " QUORVEL_BUILD_DIR " && cpack -G DEB -B " + dir.Path().string() + " >/dev/null && (dpkg-deb -c " + deb +
                           " && dpkg-deb -f " + deb + " Depends) >" + (dir / "files").string()).c_str()), 0);
    const std::string files = testing::ReadFile(dir / "files");
    EXPECT_TRUE(std::regex_search(files, std::regex(R"(-rwxr-xr-x root/root .* \./opt/quorvel/quorvel-server\n)"))) << files;
    EXPECT_TRUE(std::regex_search(files, std::regex(R"(-rw-r----- root/root .* \./opt/quorvel/options\.ini\.example\n)"))) << files;
    EXPECT_TRUE(std::regex_search(files, std::regex(R"(\n[^\n]*libcurl4[^\n]*\n$)"))) << files;
}

TEST(JournalLogTest, AStandardErrorEntryPrefixesEveryLine) {
    EXPECT_EQ(JournalLog::StderrEntry(EventType::Error, "Не задан e-mail\r\nНе задан порт SMTP-сервера\r\n"),
              "<3>Не задан e-mail\n<3>Не задан порт SMTP-сервера\n");
}

// The production timer on a real io_context, against two plain steady_timers armed just after it:
// the loop hands out expiries in time order, so the counts show when it fired, without any
// assertion on how fast the machine is.
TEST(AsioTimerTest, FiresOncePerIntervalOnARealLoop) {
    asio::io_context io;
    int fired = 0;
    AsioTimer timer(io, [&] { ++fired; });
    timer.Interval(200);
    timer.Enabled(true);
    std::vector<int> seen;
    asio::steady_timer early(io, std::chrono::milliseconds(300)), late(io, std::chrono::milliseconds(500));   // between firings
    early.async_wait([&](const std::error_code&) { seen.push_back(fired); });
    late.async_wait([&](const std::error_code&) { seen.push_back(fired); timer.Enabled(false); });
    io.run();
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace quorvel
