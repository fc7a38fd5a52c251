#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "service/ClosePrompt.h"
#include "service/ServiceControl.h"

namespace quorvel::testing {

struct LoggedEvent {
    EventType type;
    int id;
    std::string text;
    bool operator==(const LoggedEvent&) const = default;
};

inline void PrintTo(const LoggedEvent& event, std::ostream* os) {
    *os << "{" << static_cast<int>(event.type) << ", " << event.id << ", \"" << event.text << "\"}";
}

// A service manager that only records what the service asked of it: the event log entries, and
// what it was told as sd_notify would put it ("READY=1", "STATUS=...", "STOPPING=1").
class TestServiceControl final : public ServiceControl {
public:
    std::vector<LoggedEvent> events;
    std::vector<std::string> notices;

    std::string ServiceName() const override { return "QuorvelServer"; }
    std::string DisplayName() const override { return "Служба автоматической отправки почты"; }
    void Install() override {}
    void Uninstall() override {}
    void StartService() override { notices.push_back("READY=1"); }
    void StopService() override { notices.push_back("STOPPING=1"); }
    void SetStatus(std::string_view text) override { notices.push_back("STATUS=" + std::string(text)); }
    void LogEvent(EventType type, int id, std::string_view text) override {
        events.push_back({type, id, std::string(text)});
    }
    void SaveSetting(const std::string&, const std::string&, const std::string&) override {}
    std::string GetSetting(const std::string&, const std::string&,
                           const std::string& defaultValue) const override {
        return defaultValue;
    }
};

// A console whose answer the test gives when it likes.
class TestPrompt final : public ClosePrompt {
public:
    std::string title;
    std::string text;

    void Ask(const std::string& t, const std::string& x, std::function<void(bool)> a) override {
        title = t;
        text = x;
        answered_ = std::move(a);
    }
    void Answer(bool yes) {
        auto answered = std::move(answered_);
        answered_ = nullptr;
        answered(yes);
    }

private:
    std::function<void(bool)> answered_;
};

}  // namespace quorvel::testing
