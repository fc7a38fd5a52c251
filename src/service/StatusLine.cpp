#include "service/StatusLine.h"

#include "base/Utf8Text.h"

namespace quorvel {

std::string StatusLine(bool paused, const MailStatus& status) {
    std::string line = paused ? "Приостановлена" : "Работает";
    if (status.LastSendTime.empty()) {
        line += "; отправок ещё не было";
    } else {
        line += "; последняя отправка " + status.LastSendTime + ": " + status.LastResult;
    }
    if (!status.MissingMailFolder.empty()) line += "; не найден каталог почты " + status.MissingMailFolder;
    if (!status.ReplacedFolder.empty()) line += "; каталог заменён, отправка остановлена: " + status.ReplacedFolder;
    if (!status.LockedFolder.empty()) {
        line += "; ждёт заблокированный файл: " + status.LockedFolder;
    }
    for (std::size_t i = 0; i < status.Retries.size(); ++i) {
        line += i == 0 ? "; ждут повторной отправки: " : ", ";
        line += status.Retries[i].Folder + " до " + status.Retries[i].Until;
    }
    return CleanHeaderText(line);
}

}  // namespace quorvel
