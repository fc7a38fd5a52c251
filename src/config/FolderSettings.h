#pragma once

#include <string>

#include "config/clsINI.h"

namespace quorvel {

// A folder key of [Main] as the scan cycle reads it: one trailing "/" (or "\") removed, and a
// relative folder taken relative to the folder of options.ini.
std::string FolderSetting(clsINI& Ini, const char* key);

// A folder, or a link to one.
bool IsFolder(const std::string& path);

}  // namespace quorvel
