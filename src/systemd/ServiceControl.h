#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Codes of the event log entries: errors are type 1 with id 109, information type 4 with id 110.
enum class EventType : int { Error = 1, Information = 4 };
inline constexpr int kErrorEventId = 109;
inline constexpr int kInformationEventId = 110;

// Everything the service asks of the service manager and the event log. The production
// implementation talks to systemd and its journal; tests record the calls instead.
class ServiceControl {
public:
    virtual ~ServiceControl() = default;

    virtual std::string ServiceName() const = 0;
    virtual std::string DisplayName() const = 0;

    // Registers the service for automatic start. Throws Error with the reason when it cannot.
    virtual void Install() = 0;
    // Removes the registration and the stored parameters. Throws Error with the reason.
    virtual void Uninstall() = 0;

    // Tells the service manager that the service is up.
    virtual void StartService() = 0;
    // Tells the service manager that the service stops on its own; the caller then ends the loop.
    virtual void StopService() = 0;
    // Tells the service manager's watchdog that the service's loop still answers.
    virtual void KeepAlive() = 0;
    // Asks the service manager, while the service stops, for `seconds` more from now.
    virtual void ExtendStop(long seconds) = 0;
    // The one line that `systemctl status` shows for the service; the caller keeps it to one line.
    virtual void SetStatus(std::string_view text) = 0;

    // One entry of the event log. Never throws: an entry that cannot be delivered is written to
    // standard error instead.
    virtual void LogEvent(EventType type, int id, std::string_view text) = 0;

    // A parameter stored with the service. Save throws Error when it cannot be stored.
    virtual void SaveSetting(const std::string& section, const std::string& key,
                             const std::string& value) = 0;
    virtual std::string GetSetting(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) const = 0;
    // True when the parameter is stored already (a control that stores nothing has none).
    virtual bool HasSavedSetting(const std::string& /*section*/, const std::string& /*key*/) const {
        return false;
    }
};

}  // namespace quorvel
