#pragma once

#include <filesystem>
#include <string>

namespace quorvel {

// Moves one file into a folder without ever overwriting anything there and without a moment at
// which the file exists nowhere. The file keeps its name when that name is free; otherwise it
// takes the first free one of "name (1).ext", "name (2).ext", ... Within one file system the move
// is a rename; across file systems the file is copied to a hidden temporary name in the target
// folder, flushed to disk, given its final name, and only then removed from its source. Returns
// the path it now has; throws Error (the source then stays where it was).
std::filesystem::path MoveWithoutOverwrite(const std::filesystem::path& source, const std::filesystem::path& folder);

// The n-th candidate name for `name`: n = 0 gives the name itself, n = 2 turns "a.pdf" into
// "a (2).pdf" and "README" into "README (2)".
std::string NumberedName(const std::string& name, unsigned n);

}  // namespace quorvel
