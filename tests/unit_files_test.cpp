#include <gtest/gtest.h>

#include "service/JournalLog.h"
#include "service/UnitFiles.h"

namespace quorvel {
namespace {

TEST(UnitFilesTest, ParametersReplaceTheirOwnLineAndKeepOthers) {
    std::string dropIn = WithEnvironmentSetting("", "TimerInterval", "300");
    dropIn = WithEnvironmentSetting(dropIn + "Environment=\"Other=x\"\n", "TimerInterval", "1000");
    EXPECT_EQ(dropIn, "[Service]\nEnvironment=\"Other=x\"\nEnvironment=\"TimerInterval=1000\"\n");
    EXPECT_EQ(WithEnvironmentSetting("", "K", "50% \"q\""),
              "[Service]\nEnvironment=\"K=50%% \\\"q\\\"\"\n");
}

TEST(UnitFilesTest, AnExecutablePathWithBlanksOrSpecialCharactersIsQuoted) {
    std::string unit = UnitFileText("d", "/opt/my apps/100%/$quorvel-server");
    EXPECT_NE(unit.find("ExecStart=\"/opt/my apps/100%%/$$quorvel-server\"\n"), std::string::npos);
}

TEST(JournalLogTest, AStandardErrorEntryPrefixesEveryLine) {
    EXPECT_EQ(JournalLog::StderrEntry(EventType::Error,
                                      "Не задан e-mail\r\nНе задан порт SMTP-сервера\r\n"),
              "<3>Не задан e-mail\n<3>Не задан порт SMTP-сервера\n");
    EXPECT_EQ(JournalLog::StderrEntry(EventType::Information, "Service continued"),
              "<6>Service continued\n");
}

}  // namespace
}  // namespace quorvel
