#pragma once

#include <string>

#include "base/Utf8Text.h"

namespace quorvel {

// The settings error for a [Main] Timer that the numeric conversion refuses.
inline std::string BadScanIntervalText(const std::string& value) {
    return "Неверно задан интервал проверки: [Main] Timer = \"" + CleanLogText(value) + "\"";
}

// [Main] MailFolder is missing or is not a folder: nothing can be sent until it is back.
inline std::string MissingMailFolderText(const std::string& folder) {
    return "Не найден каталог почты " + CleanLogText(folder);
}

inline std::string MailFolderBackText(const std::string& folder) {
    return "Каталог почты снова доступен: " + CleanLogText(folder);
}

// The mail or lost folder has left a call unanswered for [SMTP] Timeout seconds: "Каталог почты"
// or "Каталог потерянных файлов", the folder, and since when (dd.mm.yyyy hh:mm:ss).
inline std::string SilentFolderText(bool lost, const std::string& folder,
                                    const std::string& since) {
    return std::string(lost ? "Каталог потерянных файлов " : "Каталог почты ") +
           CleanLogText(folder) + " не отвечает с " + since;
}

inline std::string FolderAnswersText(const std::string& folder) {
    return "Каталог снова отвечает: " + CleanLogText(folder);
}

}  // namespace quorvel
