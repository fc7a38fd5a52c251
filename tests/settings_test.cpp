#include <gtest/gtest.h>

#include <sys/stat.h>

#include "base/Error.h"
#include "log/MailLog.h"
#include "settings/CheckSettings.h"
#include "settings/GetAddress.h"
#include "settings/clsINI.h"
#include "support/FixedClock.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

const testing::FixedClock kClock(2026, 3, 7, 9, 5, 1);
constexpr const char* kStamp = "07.03.2026 09:05:01 - ";

TEST(MailLog, AppendsStampedCrLfEntriesAndCreatesTheFile) {
    testing::TempDir dir;
    MailLog log(dir.Path(), kClock);
    log.WriteLog("Результат отправки: ok");
    log.WriteLog("line one\r\nline two\r\n");
    log.WriteLog("");
    EXPECT_EQ(testing::ReadFile(dir / "mail.log"),
              std::string(kStamp) + "Результат отправки: ok\r\n" + kStamp + "line one\r\nline two\r\n\r\n" + kStamp + "\r\n");
}

// A log that cannot be written never throws; its watcher hears once when it fails, once when it works.
TEST(MailLog, AnUnwritableLogIsReportedOnceNamingThePath) {
    testing::TempDir dir;
    const std::string path = (dir / "mail.log").string();
    std::vector<std::string> heard;
    MailLog log(dir.Path(), kClock, [&](bool working, const std::string& text) { heard.push_back((working ? "+" : "-") + text); });
    std::filesystem::create_directory(path);  // a folder where the file should be
    EXPECT_FALSE(log.WriteLog("x"));
    EXPECT_FALSE(log.WriteLog("y"));
    std::filesystem::remove(path);
    EXPECT_TRUE(log.WriteLog("z"));
    EXPECT_EQ(heard, (std::vector<std::string>{"-cannot open " + path + ": Is a directory; the service goes on without it",
                                               "+" + path + " is written again"}));
}

class IniTest : public ::testing::Test {
protected:
    std::string Read(const std::string& content, const std::string& key, const std::string& section) {
        testing::WriteFile(dir / "options.ini", content);
        clsINI ini;
        ini.FileName(dir / "options.ini");
        return ini.ReadINI(key, section);
    }
    testing::TempDir dir;
};

TEST_F(IniTest, LookupRules) {
    const std::string file =
        "\xEF\xBB\xBF; comment=1\r\n[main]\r\n  Timer =  5  \r\nQuoted=\"  a b \"\nSingle='x'\rMixed=\"x'\n"
        "NoEquals\n[ SMTP ]\nPort=25\nport=26\n[Main]\nLate=1\n";
    EXPECT_EQ(Read(file, "TIMER", "Main"), "5");
    EXPECT_EQ(Read(file, "quoted", "MAIN"), "  a b ");
    EXPECT_EQ(Read(file, "Single", "Main"), "x");
    EXPECT_EQ(Read(file, "Mixed", "Main"), "\"x'");
    EXPECT_EQ(Read(file, "Port", "smtp"), "25") << "the first occurrence of a key wins";
    EXPECT_EQ(Read(file, "Late", "Main"), "") << "only the first section of a name is read";
    EXPECT_EQ(Read(file, "; comment", "Main"), "");
    EXPECT_EQ(Read(file, "Missing", "Main"), "");
    EXPECT_EQ(Read(file, "Port", "Other"), "");
}

TEST_F(IniTest, LongValuesAreCutTo254BytesOnACharacterBoundary) {
    EXPECT_EQ(Read("[Main]\nKey=" + std::string(300, 'x') + "\n", "Key", "Main"), std::string(254, 'x'));
    std::string cyrillic;
    for (int i = 0; i < 150; ++i) cyrillic += "ж";  // two bytes each
    std::string oneOff = "a" + cyrillic;               // the 254th byte falls inside a character
    EXPECT_EQ(Read("[Main]\nKey=" + oneOff + "\n", "Key", "Main"), "a" + cyrillic.substr(0, 252));
}

TEST_F(IniTest, SectionDefaultsToTheRememberedOneThenMain) {
    testing::WriteFile(dir / "options.ini", "[Main]\nTimer=5\n[SMTP]\nPort=25\nTimer=7\n");
    clsINI ini;
    ini.FileName(dir / "options.ini");
    std::string section;
    EXPECT_EQ(ini.ReadINI("Timer", section), "5");
    EXPECT_EQ(section, "Main");
    std::string smtp = "SMTP";
    EXPECT_EQ(ini.ReadINI("Port", smtp), "25");
    section.clear();
    EXPECT_EQ(ini.ReadINI("Timer", section), "7");
    EXPECT_EQ(section, "SMTP");
    ini.FileName(dir / "absent.ini");
    EXPECT_EQ(ini.ReadINI("Timer", "Main"), "") << "a missing file reads empty";
}

TEST_F(IniTest, SaveReplacesOrAddsAndKeepsTheRest) {
    testing::WriteFile(dir / "options.ini", "; keep\r\n[Main]\r\nTimer=5\r\n[SMTP]\r\nPort=25\r\n");
    clsINI ini;
    ini.FileName(dir / "options.ini");
    std::string main = "main", smtp = "SMTP", fresh = "New";
    ini.SaveINI("9", "TIMER", main);
    ini.SaveINI("x", "User", smtp);
    ini.SaveINI("1", "Key", fresh);
    EXPECT_EQ(testing::ReadFile(dir / "options.ini"),
              "; keep\r\n[Main]\r\nTIMER=9\r\n[SMTP]\r\nPort=25\r\nUser=x\r\n[New]\r\nKey=1\r\n");
    clsINI created;
    created.FileName(dir / "created.ini");
    std::string none;
    created.SaveINI("300", "TimerInterval", none);
    EXPECT_EQ(created.ReadINI("TimerInterval", "Main"), "300");
}

const char* const kAllSettings =
    "[Main]\nMailFolder=/m\nMail=a@b.c\nLostFolder=/l\nTimer=5\n[SMTP]\nServer=s\nPort=25\nUser=u\nPassword=p\nTimeout=10\n";

TEST(CheckSettings, CompleteSettingsEvenThroughALinkLogAnEmptyEntry) {
    testing::TempDir dir;
    testing::WriteFile(dir / "real.ini", kAllSettings);
    std::filesystem::create_symlink(dir / "real.ini", dir / "options.ini");
    MailLog log(dir.Path(), kClock);
    clsINI ini;
    EXPECT_EQ(CheckSettings(dir.Path(), ini, log), "");
    EXPECT_EQ(ini.FileName(), dir / "options.ini");
    EXPECT_EQ(testing::ReadFile(dir / "mail.log"), std::string(kStamp) + "\r\n");
}

TEST(CheckSettings, EveryMissingKeyInOrderAsOneMultiLineEntry) {
    testing::TempDir dir;
    testing::WriteFile(dir / "options.ini", "[Main]\nTimer=\nSignature=s\n[SMTP]\nPort=  \n");
    MailLog log(dir.Path(), kClock);
    clsINI ini;
    const std::string expected =
        "Не задан каталог почты\r\nНе задан e-mail\r\nНе задан каталог неотправленной почты\r\n"
        "Не задан интервал проверки\r\nНе задан адрес SMTP-сервера\r\nНе задан порт SMTP-сервера\r\n"
        "Не задан логин SMTP-сервера\r\nНе задан пароль SMTP-сервера\r\nНе задан таймаут SMTP-сервера\r\n";
    EXPECT_EQ(CheckSettings(dir.Path(), ini, log), expected);
    EXPECT_EQ(testing::ReadFile(dir / "mail.log"), kStamp + expected + "\r\n");
}

TEST(CheckSettings, MissingOrHiddenFileIsNamedAndNothingLogged) {
    testing::TempDir dir;
    MailLog log(dir.Path(), kClock);
    clsINI ini;
    ini.FileName("/stale");
    EXPECT_EQ(CheckSettings(dir.Path(), ini, log), "Не найден файл настроек " + (dir / "options.ini").string());
    EXPECT_TRUE(ini.FileName().empty()) << "the settings reader is replaced";
    std::filesystem::create_directory(dir / "options.ini");
    EXPECT_NE(CheckSettings(dir.Path(), ini, log), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "mail.log"));
}

class AliasTest : public ::testing::Test {
protected:
    std::string Address(const std::string& content, const std::string& folder) {
        testing::WriteFile(dir / "options.ini", content);
        return GetAddress(folder, dir.Path());
    }
    testing::TempDir dir;
};

TEST_F(AliasTest, LookupRules) {
    EXPECT_THROW(GetAddress("buh", dir.Path()), Error) << "no settings file";
    const std::string file =
        "[Main]\r\nbuh=wrong@x\r\n[ALIAS]\r\n\r\nno equals here\r\nBuh=upper@x\r\nbuh=a@x=tail\r\n"
        "sp ace =s@x\r\nbuh=second@x\r\n[Other]\r\nlate=l@x\r\nlist=a@x, b@x\r\n";
    EXPECT_EQ(Address(file, "buh"), "a@x") << "case-sensitive, first match, text up to the second '='";
    EXPECT_EQ(Address(file, "Buh"), "upper@x");
    EXPECT_EQ(Address(file, "sp ace"), "sp ace") << "blanks count in the alias";
    EXPECT_EQ(Address(file, "sp ace "), "s@x");
    EXPECT_EQ(Address(file, "late"), "l@x") << "later sections still hold alias lines";
    EXPECT_EQ(Address(file, "list"), "a@x, b@x");
    EXPECT_EQ(Address(file, "nobody@x"), "nobody@x");
    EXPECT_EQ(Address(file, "[ALIAS]"), "[ALIAS]");
}

TEST_F(AliasTest, HeaderMustStandAloneAndEveryLineEndingCounts) {
    EXPECT_EQ(Address("[alias] \nbuh=a@x\n", "buh"), "buh") << "a trailing blank hides the header";
    EXPECT_EQ(Address("[Alias]\nbuh=lf@x\nz=z\n", "buh"), "lf@x");
    EXPECT_EQ(Address("[alias]\rbuh=cr@x\r", "buh"), "cr@x");
    EXPECT_EQ(Address("[main]\n", "buh"), "buh");
}

// mail.log, options.ini and the aliases are in the locale's charset; a byte that does not convert
// becomes U+FFFD and the rest of the value is kept.
TEST_F(AliasTest, FilesFollowTheLocaleCharset) {
    testing::ScopedLocale cp1251("ru_RU.CP1251");
    if (!cp1251.Active()) GTEST_SKIP() << "the ru_RU.CP1251 locale is not generated on this machine";
    EXPECT_EQ(Address("[alias]\n\xE1\xF3\xF5=buh@x\n", "бух"), "buh@x");
    testing::WriteFile(dir / "options.ini", "[Main]\nSignature=\xCF\xF0\xE8\x98\xE2\xE5\xF2\n");
    clsINI ini;
    ini.FileName(dir / "options.ini");
    EXPECT_EQ(ini.ReadINI("Signature", "Main"), "При\xEF\xBF\xBDвет");
    MailLog(dir.Path(), kClock).WriteLog("ok Не");
    EXPECT_EQ(testing::ReadFile(dir / "mail.log"), std::string(kStamp) + "ok \xCD\xE5\r\n");
}

}  // namespace
}  // namespace quorvel
