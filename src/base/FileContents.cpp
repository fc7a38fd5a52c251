#include "base/FileContents.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/Error.h"
#include "base/FileDescriptor.h"

namespace quorvel {

namespace {

std::optional<std::string> Read(const std::filesystem::path& path, bool absentIsError) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        if (!absentIsError && (errno == ENOENT || errno == ENOTDIR)) return std::nullopt;
        throw SystemError("cannot open " + path.string());
    }
    std::string content;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(file.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SystemError("cannot read " + path.string());
        }
        if (n == 0) return content;
        content.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

std::string ReadFileContents(const std::filesystem::path& path) { return *Read(path, true); }

std::optional<std::string> ReadFileIfPresent(const std::filesystem::path& path) {
    return Read(path, false);
}

}  // namespace quorvel
