#pragma once

#include <filesystem>
#include <string>

namespace quorvel {

// The address for a recipient folder: the address of the first alias line of options.ini whose
// alias equals `folder` exactly, or `folder` itself. Alias lines are all lines after a line that
// reads "[alias]" in any letter case; the address is the text between the first and the second
// "=". CR LF, CR and LF each end a line. Throws Error when options.ini cannot be read.
std::string GetAddress(const std::string& folder, const std::filesystem::path& appFolder);

}  // namespace quorvel
