#pragma once

#include <filesystem>
#include <string>

#include "config/clsINI.h"
#include "log/MailLog.h"

namespace quorvel {

// The start-up gate: replaces `Ini` with a fresh reader of `<appFolder>/options.ini` and checks
// that every required key has a value. Returns "" when all are present, otherwise one message
// per missing key, each followed by CR LF, in a fixed order; when options.ini itself is missing,
// "Не найден файл настроек " and its full path, and nothing is logged. When the file exists the
// result (empty or not) is written to mail.log.
std::string CheckSettings(const std::filesystem::path& appFolder, clsINI& Ini, const MailLog& log);

}  // namespace quorvel
