#include "service/FolderSettings.h"

#include <filesystem>

namespace quorvel {

std::string FolderSetting(clsINI& Ini, const char* key) {
    std::string path = Ini.ReadINI(key, "Main");
    if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

std::string MissingMailFolder(clsINI& Ini) {
    std::string folder = FolderSetting(Ini, "MailFolder");
    return folder.empty() || IsFolder(folder) ? "" : folder;
}

}  // namespace quorvel
