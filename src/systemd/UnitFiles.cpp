#include "systemd/UnitFiles.h"

#include "base/FileContents.h"

namespace quorvel {

namespace {

// The service runs as root and must read, lease, delete and move the files of any user in any
// folder an administrator may choose (/home, /srv, /tmp and /mnt stay visible and writable), write
// mail.log beside the executable and reach the SMTP server. Everything else is taken away, and
// what it creates is not readable by others. The system calls it makes are checked against
// @system-service by scripts/syscall-check.
constexpr const char* kHardening =
    "CapabilityBoundingSet=CAP_DAC_OVERRIDE CAP_FOWNER CAP_LEASE\n"
    "NoNewPrivileges=yes\n"
    "UMask=0027\n"
    "ProtectSystem=full\n"
    "PrivateDevices=yes\n"
    "ProtectKernelTunables=yes\n"
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "ProtectControlGroups=yes\n"
    "ProtectClock=yes\n"
    "ProtectHostname=yes\n"
    "ProtectProc=invisible\n"
    "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
    "RestrictNamespaces=yes\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "LockPersonality=yes\n"
    "MemoryDenyWriteExecute=yes\n"
    "SystemCallArchitectures=native\n"
    "SystemCallFilter=@system-service\n"
    "SystemCallErrorNumber=EPERM\n";

// "%" starts a specifier in every unit setting.
std::string EscapeSpecifiers(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        if (c == '%') escaped += '%';
        escaped += c;
    }
    return escaped;
}

// Text that may stand inside double quotes; "$" starts a variable in a command line.
std::string EscapeUnitText(std::string_view text, bool inCommand) {
    std::string escaped;
    for (char c : EscapeSpecifiers(text)) {
        if (c == '$' && inCommand) escaped += '$';
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// The executable's path as the first word of a command line, quoted when it holds blanks.
std::string CommandPath(const std::filesystem::path& executable) {
    std::string path = EscapeUnitText(executable.string(), true);
    if (path.find_first_of(" \t'") == std::string::npos) return path;
    return "\"" + path + "\"";
}

// The start of the drop-in line that sets `key`.
std::string EnvironmentPrefix(std::string_view key) {
    return "Environment=\"" + EscapeUnitText(key, false) + "=";
}

std::string EnvironmentLine(std::string_view key, std::string_view value) {
    return EnvironmentPrefix(key) + EscapeUnitText(value, false) + "\"";
}

}  // namespace

std::string UnitFileText(std::string_view description, const std::filesystem::path& executable) {
    return "[Unit]\n"
           "Description=" +
           EscapeSpecifiers(description) +
           "\n"
           "Documentation=man:quorvel-server(8)\n"
           "Wants=network-online.target\n"
           "After=network-online.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=" +
           CommandPath(executable) +
           "\n"
           "ExecReload=/bin/kill -HUP $MAINPID\n"
           "Restart=on-failure\n"
           "RestartPreventExitStatus=78\n"
           "WatchdogSec=30\n" +
           kHardening +
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

bool HasEnvironmentSetting(std::string_view dropIn, std::string_view key) {
    const std::string ownPrefix = EnvironmentPrefix(key);
    bool found = false;
    ForEachLine(dropIn, [&](std::string_view line) {
        found = line.starts_with(ownPrefix);
        return !found;
    });
    return found;
}

std::string WithEnvironmentSetting(std::string_view dropIn, std::string_view key,
                                   std::string_view value) {
    const std::string ownPrefix = EnvironmentPrefix(key);
    std::string result = "[Service]\n";
    ForEachLine(dropIn, [&](std::string_view line) {
        if (line != "[Service]" && !line.empty() && !line.starts_with(ownPrefix)) {
            result += line;
            result += '\n';
        }
        return true;
    });
    result += EnvironmentLine(key, value) + "\n";
    return result;
}

}  // namespace quorvel
