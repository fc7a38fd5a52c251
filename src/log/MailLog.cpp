#include "log/MailLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "base/Error.h"
#include "base/FileDescriptor.h"
#include "base/TextCodec.h"

namespace quorvel {

namespace {

constexpr int kLogFlags =
    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

}  // namespace

std::string LocalTimestamp(std::chrono::system_clock::time_point when) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &local);
    return text;
}

MailLog::MailLog(std::filesystem::path appFolder, const Clock& clock, Watcher watcher)
    : path_(std::move(appFolder) / "mail.log"), clock_(clock), watcher_(std::move(watcher)) {}

bool MailLog::WriteLog(std::string_view text) const {
    try {
        Append(text);
    } catch (const std::exception& e) {
        if (!failing_) Report(false, std::string(e.what()) + "; the service goes on without it");
        failing_ = true;
        return false;
    }
    if (failing_) Report(true, path_.string() + " is written again");
    failing_ = false;
    return true;
}

void MailLog::Report(bool working, const std::string& text) const {
    if (watcher_) watcher_(working, text);
}

void MailLog::Append(std::string_view text) const {
    std::string entry = LocalTimestamp(clock_.Now()) + " - " + std::string(text) + "\r\n";
    std::string bytes = TextCodec::ForLocale().FromUtf8(entry);

    // Only a regular file takes entries: a FIFO, device or link put in its place is never opened
    // (nor waited for, nor followed), and the log is readable by its owner and group only.
    struct stat info {};
    const auto notRegular = [&] {
        return Error(EINVAL, "cannot open " + path_.string() + ": not a regular file");
    };
    if (::lstat(path_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) throw notRegular();
    FileDescriptor file(::open(path_.c_str(), kLogFlags, 0640));
    if (file.Get() < 0) throw SystemError("cannot open " + path_.string());
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) throw notRegular();
    // One write of the whole entry: with O_APPEND a concurrent reader never sees half a line.
    if (!WriteAll(file.Get(), bytes)) throw SystemError("cannot write " + path_.string());
    if (::close(file.Release()) != 0) throw SystemError("cannot write " + path_.string());
}

}  // namespace quorvel
