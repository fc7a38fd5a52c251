#include "config/SecretSetting.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/Error.h"
#include "base/FileDescriptor.h"
#include "base/TextRules.h"
#include "base/Utf8Text.h"

namespace quorvel {
namespace {

constexpr std::string_view kCredential = "credential:";
// A secret longer than this is no token or password anyone means; the rest is not read.
constexpr std::size_t kSecretLimit = 64 * 1024;

// The first line of the file at `path`; a FIFO there cannot hold the reader.
std::string FirstLine(const std::filesystem::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) throw Error(errno, std::strerror(errno));
    std::string text(kSecretLimit, '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t got = ::read(fd.Get(), text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw Error(errno, std::strerror(errno));
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace

std::filesystem::path SecretFilePath(const std::string& value,
                                     const std::filesystem::path& iniFolder) {
    const std::string_view name = TrimBlanks(value);
    if (!name.starts_with(kCredential)) return iniFolder / std::filesystem::path(std::string(name));
    const std::string credential(name.substr(kCredential.size()));
    if (credential.empty() || credential.find('/') != std::string::npos || credential == "." ||
        credential == "..") {
        throw Error(EINVAL, "not a credential name: \"" + CleanLogText(credential) + "\"");
    }
    const char* folder = std::getenv("CREDENTIALS_DIRECTORY");
    if (folder == nullptr || *folder == '\0') {
        throw Error(ENOENT, "the service was given no credentials (LoadCredential=) for \"" +
                                credential + "\"");
    }
    return std::filesystem::path(folder) / credential;
}

std::string ReadSecret(const clsINI& Ini, const std::string& key,
                       const std::filesystem::path& iniFolder) {
    const std::string value = Ini.ReadINI(key, "SMTP");
    const std::string file = Ini.ReadINI(key + "File", "SMTP");
    if (TrimBlanks(file).empty()) return value;
    if (!value.empty())
        throw Error(EINVAL, "[SMTP] " + key + " and " + key + "File are both given; keep one");
    std::filesystem::path path;
    try {
        path = SecretFilePath(file, iniFolder);
        return FirstLine(path);
    } catch (const Error& e) {
        const std::string where = path.empty() ? "" : CleanLogText(path.string()) + ": ";
        throw Error(e.Number(), "[SMTP] " + key + "File cannot be read: \"" + CleanLogText(file) +
                                    "\" (" + where + e.what() + ")");
    }
}

}  // namespace quorvel
