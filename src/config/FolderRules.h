#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/clsINI.h"

namespace quorvel {

// True when the two folders are the same or one lies inside the other. Decided on the folders
// themselves (device and inode of each folder and of every folder above it, walked up through
// "..", so a bind mount or a second link is caught), and, for a folder not yet created, on its
// nearest existing parent and on the absolute paths with links resolved as far as they exist.
bool FoldersOverlap(const std::filesystem::path& a, const std::filesystem::path& b);

// The start-up rule for [Main] MailFolder and [Main] LostFolder: "" when they do not overlap (or
// one is not set), otherwise the settings error naming both, ending in CR LF.
std::string FolderOverlapRule(const clsINI& Ini, const std::filesystem::path& appFolder);

// The message of that rule for two resolved folders, without its line end.
std::string FolderOverlapText(const std::string& mailFolder, const std::string& lostFolder);

// One warning for every folder above [Main] MailFolder or [Main] LostFolder (on the path as
// written and on the path with its links resolved, up to /) that someone other than root could
// change: owned by another user, or writable by its group or by others, the sticky bit
// notwithstanding (whoever may create entries there may take the name of a folder not yet made).
// Whoever can change such a folder can put another folder in the place of the named one.
std::vector<std::string> ExposedFolderWarnings(const clsINI& Ini);

}  // namespace quorvel
