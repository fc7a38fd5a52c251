#pragma once

#include <gtest/gtest.h>

#include <future>
#include <set>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "log/MailLog.h"
#include "mail/LockTest.h"
#include "mail/Scanner.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace quorvel::testing {

// Counts the files named in `Locked` as held by another process and remembers every path asked about.
class ScriptedLockTest final : public LockTest {
public:
    bool IsLocked(const std::filesystem::path& path) const override {
        asked.push_back(path.string());
        return Locked.count(path.filename().string()) > 0;
    }
    std::set<std::string> Locked;
    mutable std::vector<std::string> asked;
};

// A service folder with options.ini pointing at mail/ and lost/ under it and at a test SMTP
// server, and a Scanner over it. What mail.log's watcher hears is kept in `watched`.
class ScanCycleFixture : public ::testing::Test {
protected:
    ScanCycleFixture()
        : log_(app_.Path(), clock_, [this](bool working, const std::string& text) {
              watched.push_back((working ? "working: " : "failing: ") + text);
          }),
          scanner_(app_.Path(), log_, lockTest_, clock_) {}

    // Writes options.ini for `server`; the folder "buh" is an alias of buh@example.com.
    void WriteSettings(const std::string& mailFolder, const std::string& lostFolder, const std::string& password,
                       const SmtpServer* server = nullptr) {
        WriteFile(app_ / "options.ini", "[Main]\r\nMailFolder=" + mailFolder + "\r\nLostFolder=" + lostFolder +
                                            "\r\nMail=sender@example.com\r\nTimer=1\r\nSignature=S\r\n" +
                                            (server ? *server : server_).SmtpSection(5, password) +
                                            "[alias]\r\nbuh=buh@example.com\r\n");
        scanner_.Ini().FileName(app_ / "options.ini");
    }
    void WriteSettings(const std::string& password = "secret") {
        WriteSettings(Mail().string(), Lost().string(), password);
    }

    // One cycle against `server`, which holds its reply while `during` runs.
    std::string CycleHeldBy(const SmtpServer& server, const std::function<void()>& during) {
        WriteSettings(Mail().string(), Lost().string(), "secret", &server);
        auto cycle = std::async(std::launch::async, [this] { return scanner_.ProcessMail(); });
        EXPECT_TRUE(server.WaitUntilHeld());
        during();
        server.Release();
        return cycle.get();
    }

    std::filesystem::path Mail() const { return app_ / "mail"; }
    std::filesystem::path Lost() const { return app_ / "lost"; }

    // The texts of mail.log without their time stamps.
    std::vector<std::string> LogTexts() const { return quorvel::testing::LogTexts(log_.Path()); }

    TempDir app_;
    SmtpServer server_;
    SystemClock clock_;
    std::vector<std::string> watched;
    MailLog log_;
    ScriptedLockTest lockTest_;
    Scanner scanner_;
};

}  // namespace quorvel::testing
