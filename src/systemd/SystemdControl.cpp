#include "systemd/SystemdControl.h"

#include <fcntl.h>
#include <systemd/sd-daemon.h>

#include <cstdlib>

#include "base/Error.h"
#include "base/FileContents.h"
#include "base/FileDescriptor.h"
#include "systemd/Systemctl.h"
#include "systemd/UnitFiles.h"

namespace quorvel {

namespace {

constexpr const char* kServiceName = "QuorvelServer";
constexpr const char* kDisplayName = "Служба автоматической отправки почты";
constexpr const char* kUnitFolder = "/etc/systemd/system";
constexpr const char* kParametersFile = "parameters.conf";

std::string UnitName() { return std::string(kServiceName) + ".service"; }

void WriteTextFile(const std::filesystem::path& path, const std::string& text) {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid()) throw SystemError("cannot write " + path.string());
    if (!WriteAll(fd.Get(), text)) throw SystemError("cannot write " + path.string());
}

void CreateFolder(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) throw Error(ec.value(), "cannot create " + path.string() + ": " + ec.message());
}

void RemovePath(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) throw Error(ec.value(), "cannot remove " + path.string() + ": " + ec.message());
}

// A running systemd must reread the unit files after they changed.
void ReloadIfRunning() {
    if (SystemdRunning()) RunSystemctl({"daemon-reload"});
}

}  // namespace

SystemdControl::SystemdControl(std::filesystem::path executable)
    : executable_(std::move(executable)), journal_(kServiceName) {}

std::string SystemdControl::ServiceName() const { return kServiceName; }

std::string SystemdControl::DisplayName() const { return kDisplayName; }

std::filesystem::path SystemdControl::UnitPath() const {
    return std::filesystem::path(kUnitFolder) / UnitName();
}

std::filesystem::path SystemdControl::DropInFolder() const {
    return std::filesystem::path(kUnitFolder) / (UnitName() + ".d");
}

// A unit that cannot be enabled is not left behind.
void SystemdControl::Install() {
    WriteTextFile(UnitPath(), UnitFileText(kDisplayName, executable_));
    try {
        ReloadIfRunning();
        Enable();
    } catch (const Error&) {
        std::error_code ignored;
        std::filesystem::remove(UnitPath(), ignored);
        throw;
    }
}

// Where systemd does not run, `--root=/` makes systemctl work on the files alone.
void SystemdControl::Enable() const {
    if (SystemdRunning()) {
        RunSystemctl({"enable", UnitName()});
    } else {
        RunSystemctl({"--root=/", "enable", UnitName()});
    }
}

void SystemdControl::Disable() const {
    if (SystemdRunning()) {
        RunSystemctl({"disable", UnitName()});
    } else {
        RunSystemctl({"--root=/", "disable", UnitName()});
    }
}

// A running service is stopped first, so that it does not go on without a unit. Only the files
// that Install and SaveSetting wrote are removed: an administrator's own drop-ins stay, and so
// does their folder.
void SystemdControl::Uninstall() {
    std::error_code ec;
    if (!std::filesystem::exists(UnitPath(), ec)) {
        throw Error(ENOENT, "the service is not installed: " + UnitPath().string() + " is missing");
    }
    if (SystemdRunning()) RunSystemctl({"stop", UnitName()});
    Disable();
    RemovePath(UnitPath());
    RemovePath(DropInFolder() / kParametersFile);
    if (std::filesystem::is_empty(DropInFolder(), ec)) RemovePath(DropInFolder());
    ReloadIfRunning();
}

void SystemdControl::StartService() { sd_notify(0, "READY=1"); }

void SystemdControl::StopService() { sd_notify(0, "STOPPING=1"); }

// Only when the unit sets a watchdog (systemd then gives the service WATCHDOG_USEC).
void SystemdControl::KeepAlive() {
    if (sd_watchdog_enabled(0, nullptr) > 0) sd_notify(0, "WATCHDOG=1");
}

void SystemdControl::ExtendStop(long seconds) {
    sd_notify(0, ("EXTEND_TIMEOUT_USEC=" + std::to_string(seconds * 1000000L)).c_str());
}

void SystemdControl::SetStatus(std::string_view text) {
    sd_notify(0, ("STATUS=" + std::string(text)).c_str());
}

void SystemdControl::LogEvent(EventType type, int id, std::string_view text) {
    journal_.Write(type, id, text);
}

// Every parameter lands in the one drop-in, whatever its section: systemd hands it to the
// service as an environment variable of the key's name.
void SystemdControl::SaveSetting(const std::string& /*section*/, const std::string& key,
                                 const std::string& value) {
    CreateFolder(DropInFolder());
    std::filesystem::path file = DropInFolder() / kParametersFile;
    std::string current = ReadFileIfPresent(file).value_or("");
    WriteTextFile(file, WithEnvironmentSetting(current, key, value));
    ReloadIfRunning();
}

bool SystemdControl::HasSavedSetting(const std::string& /*section*/, const std::string& key) const {
    return HasEnvironmentSetting(ReadFileIfPresent(DropInFolder() / kParametersFile).value_or(""),
                                 key);
}

std::string SystemdControl::GetSetting(const std::string& /*section*/, const std::string& key,
                                       const std::string& defaultValue) const {
    const char* value = std::getenv(key.c_str());
    return value != nullptr ? value : defaultValue;
}

}  // namespace quorvel
