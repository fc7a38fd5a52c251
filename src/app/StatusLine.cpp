#include "app/StatusLine.h"

#include "base/Utf8Text.h"

namespace quorvel {

namespace {

// systemd drops a status of about 4 KB; the line stays below that with room for the count.
constexpr std::size_t kStatusRoom = 3500;

// The pieces in order, whole while they fit; then what was left out, counted. A first piece too
// long on its own is cut at a character.
std::string Joined(const std::vector<std::string>& pieces) {
    std::string line;
    std::size_t shown = 0;
    for (; shown < pieces.size() && line.size() + pieces[shown].size() <= kStatusRoom; ++shown)
        line += pieces[shown];
    if (shown == pieces.size()) return line;
    if (shown == 0) line = std::string(CutAtCharacter(pieces[shown++], kStatusRoom)) + "…";
    if (shown < pieces.size()) line += "; … и ещё " + std::to_string(pieces.size() - shown);
    return line;
}

}  // namespace

std::string StatusLine(bool paused, const MailStatus& status,
                       const std::vector<std::string>& notes) {
    std::string head = paused ? "Приостановлена" : "Работает";
    if (status.LastSendTime.empty()) {
        head += "; отправок ещё не было";
    } else {
        head += "; последняя отправка " + status.LastSendTime + ": " + status.LastResult;
    }
    std::vector<std::string> pieces{head};
    for (const std::string& note : notes) pieces.push_back("; " + note);
    if (!status.MissingMailFolder.empty())
        pieces.push_back("; не найден каталог почты " + status.MissingMailFolder);
    if (!status.ReplacedFolder.empty()) {
        pieces.push_back("; каталог заменён, отправка остановлена: " + status.ReplacedFolder);
    }
    if (!status.LockedFolder.empty())
        pieces.push_back("; ждёт заблокированный файл: " + status.LockedFolder);
    for (std::size_t i = 0; i < status.Retries.size(); ++i) {
        pieces.push_back((i == 0 ? "; ждут повторной отправки: " : ", ") +
                         status.Retries[i].Folder + " до " + status.Retries[i].Until);
    }
    for (std::string& piece : pieces) piece = CleanLogText(piece);
    return Joined(pieces);
}

}  // namespace quorvel
