#include "app/InstanceLock.h"

#include <fcntl.h>

#include "base/Utf8Text.h"

namespace quorvel {

std::string InstanceLock::Take() {
    if (!fd_.Valid())
        fd_ =
            FileDescriptor(::open(file_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd_.Valid()) return "";
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd_.Get(), F_SETLK, &lock) == 0) return "";
    lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const std::string pid = ::fcntl(fd_.Get(), F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK
                                ? " (pid " + std::to_string(lock.l_pid) + ")"
                                : "";
    return "Сервис уже запущен с этими настройками" + pid + ": " +
           CleanLogText((file_.parent_path() / "options.ini").string()) + "\r\n";
}

}  // namespace quorvel
