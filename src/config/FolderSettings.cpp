#include "config/FolderSettings.h"

#include <filesystem>

#include "config/FolderRules.h"

namespace quorvel {

std::string FolderSetting(clsINI& Ini, const char* key) {
    return ResolveFolder(Ini.ReadINI(key, "Main"), Ini.FileName().parent_path());
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

}  // namespace quorvel
