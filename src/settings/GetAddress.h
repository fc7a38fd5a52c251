#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace quorvel {

// The address for a recipient folder: the address of the first alias line of options.ini whose
// alias equals `folder` exactly, or `folder` itself. Alias lines are all lines after a line that
// reads "[alias]" in any letter case; the address is the text between the first and the second
// "=". CR LF, CR and LF each end a line. Throws Error when options.ini cannot be read.
std::string GetAddress(const std::string& folder, const std::filesystem::path& appFolder);

// Calls `visit` with the alias and the address of every alias line, in file order, until it
// returns false. Throws Error when options.ini cannot be read.
using AliasVisitor = std::function<bool(std::string_view alias, std::string_view address)>;
void ForEachAlias(const std::filesystem::path& appFolder, const AliasVisitor& visit);

}  // namespace quorvel
