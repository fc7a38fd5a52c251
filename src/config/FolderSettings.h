#pragma once

#include <string>

#include "config/clsINI.h"

namespace quorvel {

// [Main] MailFolder and [Main] LostFolder as the service uses them: one trailing "/" (or "\")
// removed, and a relative folder taken relative to the folder of options.ini (the folder of the
// file `Ini` reads). An empty value stays empty, and so does "/": an empty setting never names the
// root folder.
std::string MailFolderSetting(const clsINI& Ini);
std::string LostFolderSetting(const clsINI& Ini);

// Either of the two by its key, "MailFolder" or "LostFolder".
std::string FolderSetting(const clsINI& Ini, const char* key);

// A folder, or a link to one.
bool IsFolder(const std::string& path);

}  // namespace quorvel
