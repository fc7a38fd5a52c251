#pragma once

#include <filesystem>
#include <string>

#include "systemd/JournalLog.h"
#include "systemd/ServiceControl.h"

namespace quorvel {

// The service control on systemd: the unit /etc/systemd/system/QuorvelServer.service, the
// parameters in its drop-in parameters.conf (read back from the environment systemd gives the
// service), sd_notify for start and stop, the journal for the event log.
class SystemdControl final : public ServiceControl {
public:
    explicit SystemdControl(std::filesystem::path executable);

    std::string ServiceName() const override;
    std::string DisplayName() const override;

    void Install() override;
    void Uninstall() override;

    void StartService() override;
    void StopService() override;
    void KeepAlive() override;
    void ExtendStop(long seconds) override;
    void SetStatus(std::string_view text) override;

    void LogEvent(EventType type, int id, std::string_view text) override;

    void SaveSetting(const std::string& section, const std::string& key,
                     const std::string& value) override;
    bool HasSavedSetting(const std::string& section, const std::string& key) const override;
    std::string GetSetting(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const override;

private:
    std::filesystem::path UnitPath() const;
    std::filesystem::path DropInFolder() const;
    void Enable() const;
    void Disable() const;

    std::filesystem::path executable_;
    JournalLog journal_;
};

}  // namespace quorvel
