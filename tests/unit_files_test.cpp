#include <gtest/gtest.h>

#include <regex>

#include "support/TempDir.h"
#include "systemd/JournalLog.h"
#include "systemd/UnitFiles.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

// A parameter replaces its own line and keeps the others; '%', '$', quotes and blanks are escaped.
// The unit starts after the network and is hardened to an exposure of 3.0 or less, as
// `systemd-analyze security` rates it, without hiding any folder an administrator may use.
TEST(UnitFilesTest, EscapedParametersAndAHardenedUnitThatWaitsForTheNetwork) {
    EXPECT_EQ(WithEnvironmentSetting("[Service]\nEnvironment=\"TimerInterval=300\"\n"
                                     "Environment=\"Other=x\"\n",
                                     "TimerInterval", "1000"),
              "[Service]\nEnvironment=\"Other=x\"\nEnvironment=\"TimerInterval=1000\"\n");
    EXPECT_EQ(WithEnvironmentSetting("", "K", "50% \"q\""),
              "[Service]\nEnvironment=\"K=50%% \\\"q\\\"\"\n");
    EXPECT_NE(UnitFileText("d", "/opt/my apps/100%/$quorvel-server")
                  .find("ExecStart=\"/opt/my apps/100%%/$$quorvel-server\"\n"),
              std::string::npos);
    testing::TempDir dir;
    const std::string unit = UnitFileText("Служба", "/opt/quorvel/quorvel-server");
    EXPECT_NE(unit.find("[Unit]\nDescription=Служба\nDocumentation=man:quorvel-server(8)\nWants="
                        "network-online.target\n"
                        "After=network-online.target\n"),
              std::string::npos);
    for (const char* hiding : {"ProtectHome", "PrivateTmp", "InaccessiblePaths", "ReadOnlyPaths",
                               "TemporaryFileSystem", "ProtectSystem=strict", "PrivateNetwork"}) {
        EXPECT_EQ(unit.find(hiding), std::string::npos) << hiding;
    }
    testing::WriteFile(dir / "QuorvelServer.service", unit);
    if (std::system(("systemd-analyze security --offline=yes --no-pager " +
                     (dir / "QuorvelServer.service").string() + " >" + (dir / "report").string() +
                     " 2>/dev/null")
                        .c_str()) != 0) {
        GTEST_SKIP() << "systemd-analyze security --offline=yes is not available here";
    }
    const std::string report = testing::ReadFile(dir / "report");
    std::smatch level;
    ASSERT_TRUE(std::regex_search(report, level,
                                  std::regex(R"(Overall exposure level for \S+: ([0-9.]+))")));
    EXPECT_LE(std::stod(level[1]), 3.0) << report;
}

// `make package` builds a .deb: the executable (stripped, hardened) and
// the example, readable by root and its group only, under /opt/quorvel; lintian finds nothing but
// files in /opt. With systemd running: installed, it starts nothing; an upgrade writes the unit
// again, keeping the service disabled, its TimerInterval and an administrator's drop-in, and
// restarts a running service; a removal stops the service, then takes away only what /i wrote; a
// purge what the service wrote beside the program but no folder, and /opt/quorvel once it is empty.
TEST(InstallTest, ThePackageHoldsTheServiceAndItsScriptsTouchOnlyItsOwnFiles) {
    testing::TempDir dir;
    const std::string deb = dir.Path().string() + "/*.deb", out = " >" + (dir / "files").string();
    ASSERT_EQ(std::system(("cd " QUORVEL_BUILD_DIR " && cpack -G DEB -B " + dir.Path().string() +
                           " >/dev/null 2>&1 && dpkg-deb -c " + deb + out)
                              .c_str()),
              0);
    const std::string files = testing::ReadFile(dir / "files");
    for (const char* entry : {R"(-rwxr-xr-x root/root .* \./opt/quorvel/quorvel-server\n)",
                              R"(-rw-r----- root/root .* \./opt/quorvel/options\.ini\.example\n)"})
        EXPECT_TRUE(std::regex_search(files, std::regex(entry))) << files;
    if (QUORVEL_HARDENED_BUILD && std::system("command -v lintian >/dev/null") == 0) {
        EXPECT_EQ(
            std::system(("lintian --fail-on error,warning --suppress-tags dir-or-file-in-opt " +
                         deb + out + " 2>&1")
                            .c_str()),
            0)
            << testing::ReadFile(dir / "files");
    }
    const int status = std::system(("unshare -m sh " QUORVEL_TESTS_DIR "/package_life_cycle.sh " +
                                    deb + " " + dir.Path().string() + " 2>/dev/null")
                                       .c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 99 || !fs::exists(dir / "purged-empty"))
        GTEST_SKIP() << "no private mount namespace or no dpkg here (not root?)";
    EXPECT_FALSE(fs::exists(dir / "failures")) << testing::ReadFile(dir / "dpkg.out");
    const std::string opt = "/opt/quorvel", unit = "/etc/systemd/system/QuorvelServer.service",
                      rotate = "/etc/logrotate.d/quorvel-server\n";
    const std::string dropIn = unit + ".d\n" + unit + ".d/override.conf\n",
                      mail = opt + "\n" + opt + "/mail\n";
    EXPECT_EQ(testing::ReadFile(dir / "installed"),
              rotate + opt + "\n" + opt + "/options.ini.example\n" + opt + "/quorvel-server\n");
    EXPECT_EQ(testing::ReadFile(dir / "unit.upgraded"), testing::ReadFile(dir / "unit"));
    EXPECT_EQ(testing::ReadFile(dir / "parameters.upgraded"),
              "[Service]\nEnvironment=\"TimerInterval=5000\"\n");
    EXPECT_EQ(testing::ReadFile(dir / "upgraded").find("multi-user.target.wants/"),
              std::string::npos);
    const std::string reload = "systemctl daemon-reload\n",
                      enable = reload + "systemctl enable QuorvelServer.service\n";
    EXPECT_EQ(
        testing::ReadFile(dir / "calls"),
        "-- installed\n" + enable + reload + "-- /i\n" + enable + reload +
            "deb-systemd-invoke try-restart QuorvelServer.service\n-- upgraded\n"
            "systemctl stop QuorvelServer.service\nsystemctl disable QuorvelServer.service\n" +
            reload + "-- removed\n-- purged\n-- purged-empty\n");
    EXPECT_EQ(testing::ReadFile(dir / "removed"),
              rotate + dropIn + mail + opt + "/mail.log\n" + opt + "/mail.log.1\n" + opt +
                  "/mail/buh\n" + opt + "/mail/buh/a.txt\n" + opt + "/options.ini\n");
    EXPECT_EQ(testing::ReadFile(dir / "purged"),
              dropIn + mail + opt + "/mail/buh\n" + opt + "/mail/buh/a.txt\n");
    EXPECT_EQ(testing::ReadFile(dir / "purged-empty"), dropIn);
}

// The journal takes LF line ends (CR LF would make the entry a byte array); mail.log keeps CR LF.
TEST(JournalLogTest, EntriesEndTheirLinesInLfAndAStandardErrorEntryPrefixesEveryLine) {
    EXPECT_EQ(JournalLog::EntryText("a\r\nb\rc\nd\r\n\r\n"), "a\nb\nc\nd");
    EXPECT_EQ(JournalLog::StderrEntry(EventType::Error,
                                      "Не задан e-mail\r\nНе задан порт SMTP-сервера\r\n"),
              "<3>Не задан e-mail\n<3>Не задан порт SMTP-сервера\n");
}

}  // namespace
}  // namespace quorvel
