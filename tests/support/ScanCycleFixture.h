#pragma once

#include <gtest/gtest.h>

#include <future>
#include <set>
#include <string>
#include <vector>

#include "log/MailLog.h"
#include "mail/LockTest.h"
#include "mail/Scanner.h"
#include "support/FixedClock.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace quorvel::testing {

// Counts the files named in `Locked` as held by another process and remembers every path asked about.
class ScriptedLockTest final : public LockTest {
public:
    bool IsLocked(const std::filesystem::path& path) const override {
        asked.push_back(path.filename().string());
        return Locked.count(path.filename().string()) > 0;
    }
    std::set<std::string> Locked;
    mutable std::vector<std::string> asked;
};

// A service folder with options.ini pointing at mail/ and lost/ under it and at a test SMTP server,
// and a Scanner over it on a clock the test moves. What mail.log's watcher hears is kept in `watched`.
class ScanCycleFixture : public ::testing::Test {
protected:
    // options.ini for `server` (server_ when null) with the [SMTP] lines of `more`; the folder
    // "buh" is an alias of buh@example.com.
    void WriteSettings(const std::string& mail, const std::string& lost, const std::string& password = "secret",
                       const SmtpServer* server = nullptr, const std::string& more = "") {
        WriteFile(app_ / "options.ini", "[Main]\r\nMailFolder=" + mail + "\r\nLostFolder=" + lost +
                                            "\r\nMail=sender@example.com\r\nSignature=S\r\n" +
                                            (server ? *server : server_).SmtpSection(5, password) + more +
                                            "[alias]\r\nbuh=buh@example.com\r\n");
        scanner_.Ini().FileName(app_ / "options.ini");
    }
    void WriteSettings(const std::string& password = "secret") { WriteSettings(Mail(), Lost(), password); }

    // One cycle against `server`, which holds its reply while `during` runs.
    std::string CycleHeldBy(const SmtpServer& server, const std::function<void()>& during) {
        WriteSettings(Mail(), Lost(), "secret", &server);
        auto cycle = std::async(std::launch::async, [this] { return scanner_.ProcessMail(); });
        EXPECT_TRUE(server.WaitUntilHeld());
        during();
        server.Release();
        return cycle.get();
    }

    std::filesystem::path Mail() const { return app_ / "mail"; }
    std::filesystem::path Lost() const { return app_ / "lost"; }
    std::vector<std::string> LogTexts() const { return quorvel::testing::LogTexts(log_.Path()); }

    TempDir app_;
    SmtpServer server_;
    FixedClock clock_;
    std::vector<std::string> watched;
    MailLog log_{app_.Path(), clock_, [this](bool, const std::string& text) { watched.push_back(text); }};
    ScriptedLockTest lockTest_;
    Scanner scanner_{app_.Path(), log_, lockTest_, clock_};
};

}  // namespace quorvel::testing
