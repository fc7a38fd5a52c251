#include <gtest/gtest.h>

#include "config/CheckSettings.h"
#include "config/FolderRules.h"
#include "config/GetAddress.h"
#include "config/SecretRules.h"
#include "config/StartupRules.h"
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
    // The value of `key` in `section` of options.ini holding `content`; without a section, the
    // address of the folder `key`.
    std::string Lookup(const std::string& content, const std::string& section,
                       const std::string& key) {
        testing::WriteFile(dir / "options.ini", content);
        ini.FileName(dir / "options.ini");
        return section.empty() ? GetAddress(key, ini) : ini.ReadINI(key, section);
    }
    testing::TempDir dir;
    clsINI ini;
    const std::string mailLog = (dir / "mail.log").string();
};

// Entries are stamped and end in CR LF in a file only its owner and group may read. Only a regular
// file takes them: a link in its place is never written (nor followed), and
// the watcher hears once when writing fails, once when it works again.
TEST_F(SettingsTest, MailLogAppendsStampedEntriesToARegularFileAndReportsAFailureOnce) {
    std::vector<std::string> heard;
    MailLog log(dir.Path(), kClock, [&](bool working, const std::string& text) {
        heard.push_back((working ? "+" : "-") + text);
    });
    log.WriteLog("Результат отправки: ok");
    log.WriteLog("line one\r\nline two\r\n");
    EXPECT_EQ(testing::ReadFile(mailLog),
              kStamp + "Результат отправки: ok\r\n" + kStamp + "line one\r\nline two\r\n\r\n");
    EXPECT_EQ(std::filesystem::status(mailLog).permissions(), std::filesystem::perms(0640));
    std::filesystem::remove(mailLog);
    std::filesystem::create_symlink(dir / "elsewhere", mailLog);
    EXPECT_FALSE(log.WriteLog("y"));
    EXPECT_FALSE(log.WriteLog("z"));
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
    std::filesystem::remove(mailLog);
    EXPECT_TRUE(log.WriteLog("z"));
    EXPECT_EQ(heard,
              (std::vector<std::string>{"-cannot open " + mailLog +
                                            ": not a regular file; the service goes on without it",
                                        "+" + mailLog + " is written again"}));
}

// A value is found by section and key in any letter case, blanks around them and quotes around
// it left out, in the first section of that name, the first key wins; long values are cut to 254
// bytes between characters. An alias is a line "name=address" below a header line "[alias]" (any
// letter case, alone on its line) to the end of the file; the name is case-sensitive, blanks
// count, the first match wins, the address ends at a second '='. A folder without an alias is its
// own address.
TEST_F(SettingsTest, IniAndAliasLookupRules) {
    const std::string file =
        "\xEF\xBB\xBF[main]\r\n; comment=1\r\n  Timer =  5  \r\nQuoted=\"  a b \"\nSingle='x'\r"
        "Mixed=\"x'\nNoEquals\n[ SMTP ]\nPort=25\nport=26\n[Main]\nLate=1\n";
    const std::string aliases =
        "[Main]\r\nbuh=wrong@x\r\n[ALIAS]\r\n\r\nno equals here\r\nBuh=upper@x\r\nbuh=a@x=tail\r\n"
        "sp ace =s@x\r\nbuh=second@x\r\n[Other]\r\nlate=l@x\r\n";
    const std::pair<const char*, const char*> values[] = {
        {"TIMER", "5"}, {"quoted", "  a b "}, {"Mixed", "\"x'"}, {"Late", ""}};
    for (const auto& [key, value] : values) EXPECT_EQ(Lookup(file, "MAIN", key), value) << key;
    EXPECT_EQ(Lookup(file, "smtp", "Port"), "25");
    const std::pair<const char*, const char*> addresses[] = {
        {"buh", "a@x"}, {"Buh", "upper@x"}, {"sp ace ", "s@x"}, {"late", "l@x"}};
    for (const auto& [folder, address] : addresses)
        EXPECT_EQ(Lookup(aliases, "", folder), address) << folder;
    EXPECT_EQ(Lookup("[alias] \nbuh=a@x\n", "", "buh"), "buh");
    EXPECT_EQ(Lookup("[alias]\rbuh=cr@x\r", "", "buh"), "cr@x");
    std::string cyrillic;
    while (cyrillic.size() < 300) cyrillic += "ж";
    EXPECT_EQ(Lookup("[Main]\nKey=a" + cyrillic, "Main", "Key"), "a" + cyrillic.substr(0, 252));
}

// Complete settings (the example that is installed), even through a link, log an empty entry; every
// missing key is named in order in one entry; a missing file is named and nothing is logged.
TEST_F(SettingsTest, CheckSettingsNamesEveryMissingKey) {
    MailLog log(dir.Path(), kClock);
    EXPECT_EQ(CheckSettings(dir.Path(), ini, log),
              "Не найден файл настроек " + (dir / "options.ini").string());
    EXPECT_FALSE(std::filesystem::exists(mailLog));
    testing::WriteFile(dir / "options.ini", "[Main]\nTimer=\nSignature=s\n[SMTP]\nPort=  \n");
    const std::string missing =
        "Не задан каталог почты\r\nНе задан e-mail\r\nНе задан каталог неотправленной почты\r\n"
        "Не задан интервал проверки\r\nНе задан адрес SMTP-сервера\r\nНе задан порт "
        "SMTP-сервера\r\n"
        "Не задан логин SMTP-сервера\r\nНе задан пароль SMTP-сервера\r\nНе задан таймаут "
        "SMTP-сервера\r\n";
    EXPECT_EQ(CheckSettings(dir.Path(), ini, log), missing);
    std::filesystem::remove(dir / "options.ini");
    std::filesystem::create_symlink(QUORVEL_TESTS_DIR "/../options.ini.example",
                                    dir / "options.ini");
    EXPECT_EQ(CheckSettings(dir.Path(), ini, log), "");
    EXPECT_EQ(testing::ReadFile(mailLog), kStamp + missing + "\r\n" + kStamp + "\r\n");
}

// Each start-up rule names the key and the value it refuses, one line each; values in their
// bounds pass. Relative files are relative to the folder of options.ini.
TEST_F(SettingsTest, StartupRulesNameWhatTheyRefuse) {
    const std::string retryFor = "Неверно задано время повторных попыток: [SMTP] RetryFor = \"",
                      delay = "Неверно задан интервал повторных попыток: [SMTP] RetryDelay = \"",
                      notHelo = "[SMTP] Helo is not a domain or an address literal: \"";
    const auto gone = [&](const std::string& key, const std::string& name) {
        return "[SMTP] " + key + " cannot be read: \"" + name + "\" (" + (dir / name).string() +
               ": No such file or directory)\r\n";
    };
    const std::pair<std::string, std::string> cases[] = {
        {"Security=TLS\nRetryFor=604800\nRetryDelay=1\nHelo=mx-1.example.com\n[Main]\n"
         "QuietSeconds=3600",
         ""},
        {"Security= none \nRetryFor=0\nRetryDelay=86400\nHelo=[IPv6:::1]", ""},
        {"Helo=mail_1.example.com", notHelo + "mail_1.example.com\"\r\n"},
        {"Helo=a.-b", notHelo + "a.-b\"\r\n"},
        {"Security=ssl", "[SMTP] Security is not none, starttls or tls: \"ssl\"\r\n"},
        {"CAFile=options.ini", "[SMTP] CAFile holds no certificate: \"options.ini\" (" +
                                   (dir / "options.ini").string() + ")\r\n"},
        {"CAFile=gone.pem", gone("CAFile", "gone.pem")},
        {"RetryFor=604801", retryFor + "604801\" (0..604800)\r\n"},
        {"RetryDelay=0\nRetryFor=-1",
         retryFor + "-1\" (0..604800)\r\n" + delay + "0\" (1..86400)\r\n"},
        {"RetryDelay=1.5", delay + "1.5\" (1..86400)\r\n"},
        {"Auth=kerberos", "[SMTP] Auth is not password or oauth2: \"kerberos\"\r\n"},
        {"Auth= OAuth2 \nClientId=c\nTokenUrl=HTTPS://x/t\nClientSecretFile=options.ini", ""},
        {"Auth=oauth2\nTokenUrl=http://x/t",
         "[SMTP] TokenUrl = \"http://x/t\": not an https address\r\n[SMTP] ClientId = \"\": "
         "Auth=oauth2 needs the client ID\r\n"},
        {"Auth=oauth2\nClientId=c",
         "[SMTP] TokenUrl = \"\": Auth=oauth2 needs the token endpoint of the provider\r\n"},
        {"Password=p\nPasswordFile=options.ini\nRefreshTokenFile=gone.txt",
         "[SMTP] Password and PasswordFile are both given; keep one\r\n" +
             gone("RefreshTokenFile", "gone.txt")},
        {"[Main]\nQuietSeconds=3601",
         "Неверно задано время покоя файла: [Main] QuietSeconds = \"3601\" (0..3600)\r\n"},
        {"[Main]\nMailFolder=m/\nLostFolder=m/lost",
         "Каталог неотправленной почты не может совпадать с каталогом почты или лежать с ним один "
         "в другом: [Main] MailFolder = \"" +
             (dir / "m").string() + "\", [Main] LostFolder = \"" + (dir / "m/lost").string() +
             "\"\r\n"}};
    for (const auto& [smtp, error] : cases) {
        Lookup("[SMTP]\n" + smtp + "\n", "", "");
        EXPECT_EQ(CheckStartupRules(ini, dir.Path()), error) << smtp;
    }
    // Warnings only: a secret anyone may read, a folder above the mail folder others may change.
    std::filesystem::create_directories(dir / "open/mail");
    std::filesystem::permissions(dir / "open", std::filesystem::perms::all);
    std::filesystem::permissions(dir / "options.ini", std::filesystem::perms(0644));
    Lookup("[Main]\nMailFolder=open/mail\n[SMTP]\nPassword=p\n", "", "");
    EXPECT_EQ(ReadableSecretWarnings(ini, dir.Path()).size(), 1u);
    const std::string open = "warning: " + (dir / "open").string() + ", above [Main] MailFolder";
    const std::vector<std::string> exposed = ExposedFolderWarnings(ini);
    EXPECT_EQ(std::count_if(exposed.begin(), exposed.end(),
                            [&](const std::string& w) { return w.starts_with(open); }),
              1);
}

}  // namespace
}  // namespace quorvel
