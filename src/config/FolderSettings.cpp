#include "config/FolderSettings.h"

#include <filesystem>

namespace quorvel {

std::string FolderSetting(const clsINI& Ini, const char* key) {
    std::string value = Ini.ReadINI(key, "Main");
    if (!value.empty() && (value.back() == '/' || value.back() == '\\')) value.pop_back();
    if (value.empty() || value.front() == '/') return value;
    return (Ini.FileName().parent_path() / value).string();
}

std::string MailFolderSetting(const clsINI& Ini) { return FolderSetting(Ini, "MailFolder"); }

std::string LostFolderSetting(const clsINI& Ini) { return FolderSetting(Ini, "LostFolder"); }

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

}  // namespace quorvel
