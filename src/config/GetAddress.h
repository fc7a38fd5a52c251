#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "config/clsINI.h"

namespace quorvel {

// The address for a recipient folder: the address of the first alias line of the settings that
// `Ini` reads (its snapshot, when loaded) whose alias equals `folder` exactly, or `folder` itself.
// Alias lines are all lines after a line that reads "[alias]" in any letter case; the address is
// the text between the first and the second "=". CR LF, CR and LF each end a line. A missing file
// has no aliases; throws Error when it cannot be read.
std::string GetAddress(const std::string& folder, const clsINI& Ini);

// Calls `visit` with the alias and the address of every alias line, in file order, until it
// returns false: of the settings `Ini` reads, or of <appFolder>/options.ini (which must exist).
// Throws Error when the file cannot be read.
using AliasVisitor = std::function<bool(std::string_view alias, std::string_view address)>;
void ForEachAlias(const clsINI& Ini, const AliasVisitor& visit);
void ForEachAlias(const std::filesystem::path& appFolder, const AliasVisitor& visit);

}  // namespace quorvel
