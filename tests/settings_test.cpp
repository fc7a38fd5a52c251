#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "base/Error.h"
#include "base/FileDescriptor.h"
#include "config/CheckSettings.h"
#include "config/GetAddress.h"
#include "config/clsINI.h"
#include "log/MailLog.h"
#include "support/FixedClock.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

const testing::FixedClock kClock(2026, 3, 7, 9, 5, 1);
const std::string kStamp = "07.03.2026 09:05:01 - ";

// A folder of its own for options.ini and mail.log.
class SettingsTest : public ::testing::Test {
protected:
    std::string Read(const std::string& content, const std::string& key,
                     const std::string& section) {
        testing::WriteFile(dir / "options.ini", content);
        ini.FileName(dir / "options.ini");
        return ini.ReadINI(key, section);
    }
    std::string Address(const std::string& content, const std::string& folder) {
        testing::WriteFile(dir / "options.ini", content);
        ini.FileName(dir / "options.ini");
        return GetAddress(folder, ini);
    }
    testing::TempDir dir;
    clsINI ini;
    const std::string mailLog = (dir / "mail.log").string();
};

// Entries are stamped and end in CR LF in a file only its owner and group may read. Only a regular
// file takes them: a folder, a FIFO (even one with a reader) or a link in its place is never
// written, and the watcher hears once when writing fails, once when it works again.
TEST_F(SettingsTest, MailLogAppendsStampedEntriesToARegularFileAndReportsAFailureOnce) {
    std::vector<std::string> heard;
    MailLog log(dir.Path(), kClock, [&](bool working, const std::string& text) {
        heard.push_back((working ? "+" : "-") + text);
    });
    log.WriteLog("Результат отправки: ok");
    log.WriteLog("line one\r\nline two\r\n");
    log.WriteLog("");
    EXPECT_EQ(testing::ReadFile(mailLog), kStamp + "Результат отправки: ok\r\n" + kStamp +
                                              "line one\r\nline two\r\n\r\n" + kStamp + "\r\n");
    EXPECT_EQ(std::filesystem::status(mailLog).permissions(), std::filesystem::perms(0640));
    FileDescriptor reader;
    const std::function<void()> standIns[] = {
        [&] { std::filesystem::create_directory(mailLog); },
        [&] {
            ::mkfifo(mailLog.c_str(), 0644),
                reader = FileDescriptor(::open(mailLog.c_str(), O_RDONLY | O_NONBLOCK));
        },
        [&] { std::filesystem::create_symlink(dir / "elsewhere", mailLog); },
    };
    for (const auto& standIn : standIns) {
        std::filesystem::remove(mailLog);
        standIn();
        EXPECT_FALSE(log.WriteLog("x"));
        EXPECT_FALSE(log.WriteLog("y"));
        std::filesystem::remove(mailLog);
        EXPECT_TRUE(log.WriteLog("z"));
    }
    char byte;
    EXPECT_LE(::read(reader.Get(), &byte, 1), 0) << "nothing went into the FIFO";
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
    const std::vector<std::string> once = {
        "-cannot open " + mailLog + ": not a regular file; the service goes on without it",
        "+" + mailLog + " is written again"};
    EXPECT_EQ(heard,
              (std::vector<std::string>{once[0], once[1], once[0], once[1], once[0], once[1]}));
}

TEST_F(SettingsTest, IniLookupRules) {
    const std::string file =
        "\xEF\xBB\xBF[main]\r\n; comment=1\r\n  Timer =  5  \r\nQuoted=\"  a b "
        "\"\nSingle='x'\rMixed=\"x'\n"
        "NoEquals\n[ SMTP ]\nPort=25\nport=26\n[Main]\nLate=1\n";
    for (const auto& [key, section, value] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"TIMER", "Main", "5"},
             {"quoted", "MAIN", "  a b "},
             {"Single", "Main", "x"},
             {"Mixed", "Main", "\"x'"},
             {"Port", "smtp", "25"},
             {"Late", "Main", ""},
             {"; comment", "Main", ""},
             {"Port", "Other", ""}}) {
        EXPECT_EQ(Read(file, key, section), value) << key;
    }
    // Long values are cut to 254 bytes on a character boundary.
    std::string cyrillic;
    while (cyrillic.size() < 300) cyrillic += "ж";
    EXPECT_EQ(Read("[Main]\nKey=" + std::string(300, 'x') + "\n", "Key", "Main"),
              std::string(254, 'x'));
    EXPECT_EQ(Read("[Main]\nKey=a" + cyrillic + "\n", "Key", "Main"),
              "a" + cyrillic.substr(0, 252));
    ini.FileName(dir / "created.ini");
    EXPECT_EQ(ini.ReadINI("Timer", "Main"), "") << "a missing file reads empty";
}

// Complete settings, even through a link, log an empty entry; every missing key is named in order
// in one entry; a missing or unreadable file is named and nothing is logged.
TEST_F(SettingsTest, CheckSettingsNamesEveryMissingKey) {
    MailLog log(dir.Path(), kClock);
    ini.FileName("/stale");
    EXPECT_EQ(CheckSettings(dir.Path(), ini, log),
              "Не найден файл настроек " + (dir / "options.ini").string());
    EXPECT_TRUE(ini.FileName().empty()) << "the settings reader is replaced";
    std::filesystem::create_directory(dir / "options.ini");
    EXPECT_NE(CheckSettings(dir.Path(), ini, log), "");
    EXPECT_FALSE(std::filesystem::exists(mailLog));
    std::filesystem::remove(dir / "options.ini");
    testing::WriteFile(dir / "options.ini", "[Main]\nTimer=\nSignature=s\n[SMTP]\nPort=  \n");
    const std::string missing =
        "Не задан каталог почты\r\nНе задан e-mail\r\nНе задан каталог неотправленной почты\r\n"
        "Не задан интервал проверки\r\nНе задан адрес SMTP-сервера\r\nНе задан порт "
        "SMTP-сервера\r\n"
        "Не задан логин SMTP-сервера\r\nНе задан пароль SMTP-сервера\r\nНе задан таймаут "
        "SMTP-сервера\r\n";
    EXPECT_EQ(CheckSettings(dir.Path(), ini, log), missing);
    testing::WriteFile(dir / "real.ini",
                       "[Main]\nMailFolder=/m\nMail=a@b.c\nLostFolder=/l\nTimer=5\n"
                       "[SMTP]\nServer=s\nPort=25\nUser=u\nPassword=p\nTimeout=10\n");
    std::filesystem::remove(dir / "options.ini");
    std::filesystem::create_symlink(dir / "real.ini", dir / "options.ini");
    EXPECT_EQ(CheckSettings(dir.Path(), ini, log), "");
    EXPECT_EQ(ini.FileName(), dir / "options.ini");
    EXPECT_EQ(testing::ReadFile(mailLog), kStamp + missing + "\r\n" + kStamp + "\r\n");
}

// An alias is a line "name=address" below a header line "[alias]" (any letter case, alone on its
// line); the name is case-sensitive, blanks count, the first match wins, the address ends at a
// second '='. A folder without an alias is its own address.
TEST_F(SettingsTest, AliasLookupRules) {
    const std::string file =
        "[Main]\r\nbuh=wrong@x\r\n[ALIAS]\r\n\r\nno equals here\r\nBuh=upper@x\r\nbuh=a@x=tail\r\n"
        "sp ace =s@x\r\nbuh=second@x\r\n[Other]\r\nlate=l@x\r\nlist=a@x, b@x\r\n";
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {file, "buh", "a@x"},
        {file, "Buh", "upper@x"},
        {file, "sp ace", "sp ace"},
        {file, "sp ace ", "s@x"},
        {file, "late", "l@x"},
        {file, "list", "a@x, b@x"},
        {file, "nobody@x", "nobody@x"},
        {file, "[ALIAS]", "[ALIAS]"},
        {"[alias] \nbuh=a@x\n", "buh", "buh"},
        {"[Alias]\nbuh=lf@x\nz=z\n", "buh", "lf@x"},
        {"[alias]\rbuh=cr@x\r", "buh", "cr@x"},
        {"[main]\n", "buh", "buh"},
    };
    for (const auto& [content, folder, address] : cases)
        EXPECT_EQ(Address(content, folder), address) << content << folder;
}

// mail.log, options.ini and the aliases are in the locale's charset; a byte that does not convert
// becomes U+FFFD and the rest of the value is kept.
TEST_F(SettingsTest, FilesFollowTheLocaleCharset) {
    testing::ScopedLocale cp1251("ru_RU.CP1251");
    if (!cp1251.Active())
        GTEST_SKIP() << "the ru_RU.CP1251 locale is not generated on this machine";
    EXPECT_EQ(Address("[alias]\n\xE1\xF3\xF5=buh@x\n", "бух"), "buh@x");
    EXPECT_EQ(Read("[Main]\nSignature=\xCF\xF0\xE8\x98\xE2\xE5\xF2\n", "Signature", "Main"),
              "При\xEF\xBF\xBDвет");
    MailLog(dir.Path(), kClock).WriteLog("ok Не");
    EXPECT_EQ(testing::ReadFile(mailLog), kStamp + "ok \xCD\xE5\r\n");
}

}  // namespace
}  // namespace quorvel
