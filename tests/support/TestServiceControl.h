#pragma once

#include <functional>
#include <map>
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

// A service manager that only records what the service asked of it.
class TestServiceControl final : public ServiceControl {
public:
    std::vector<LoggedEvent> events;
    std::map<std::string, std::string> settings;   // by key
    int starts = 0;
    int stops = 0;

    std::string ServiceName() const override { return "QuorvelServer"; }
    std::string DisplayName() const override { return "Служба автоматической отправки почты"; }
    void Install() override {}
    void Uninstall() override {}
    void StartService() override { ++starts; }
    void StopService() override { ++stops; }
    void LogEvent(EventType type, int id, std::string_view text) override {
        events.push_back({type, id, std::string(text)});
    }
    void SaveSetting(const std::string&, const std::string& key, const std::string& value) override {
        settings[key] = value;
    }
    std::string GetSetting(const std::string&, const std::string& key,
                           const std::string& defaultValue) const override {
        auto found = settings.find(key);
        return found != settings.end() ? found->second : defaultValue;
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
