#pragma once

#include <filesystem>
#include <string>

#include "settings/clsINI.h"

namespace quorvel {

// A folder setting as the service uses it: one trailing "/" (or "\") dropped, and a relative
// folder taken relative to `iniFolder`, the folder of options.ini. "" stays "".
std::string ResolveFolder(std::string value, const std::filesystem::path& iniFolder);

// True when the two folders are the same or one lies inside the other, compared as absolute
// paths with links resolved as far as the folders exist.
bool FoldersOverlap(const std::filesystem::path& a, const std::filesystem::path& b);

// The start-up rule for [Main] MailFolder and [Main] LostFolder: "" when they do not overlap (or
// one is not set), otherwise the settings error naming both, ending in CR LF.
std::string FolderOverlapRule(clsINI& Ini, const std::filesystem::path& appFolder);

// The message of that rule for two resolved folders, without its line end.
std::string FolderOverlapText(const std::string& mailFolder, const std::string& lostFolder);

}  // namespace quorvel
