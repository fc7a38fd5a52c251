#pragma once

#include <stdio.h>

#include <functional>
#include <string>

#include "dropfolder/FileIdentity.h"

namespace quorvel {

// The rename a move makes (renameat2's arguments and result); tests put a failing one in its place.
using RenameCall =
    std::function<int(int fromFd, const char* from, int toFd, const char* to, unsigned flags)>;

// Moves the file `name` of the folder `fromFd` into the folder `toFd` without ever overwriting
// anything there and without a moment at which the file exists nowhere. Both folders are held by
// descriptors, so nothing is resolved again by path. The file keeps its name when that name is
// free; otherwise it takes the first free one of "name (1).ext", "name (2).ext", ... (shortened to
// fit). Within one file system the move is a rename. Across file systems the free space there is
// checked first; the file is copied (its holes kept as holes) to a short hidden temporary name in
// the target folder, flushed to disk, given its final name, and removed from its source only when
// it is still as it was when the copy began (otherwise the copy is dropped). The file must still
// be `expected` (the same file); returns the name it now has; throws Error (the source then stays
// where it was; ENOSPC when the target had no room).
std::string MoveWithoutOverwrite(int fromFd, const std::string& name, const FileIdentity& expected,
                                 int toFd, const RenameCall& rename = ::renameat2);

// The n-th candidate name for `name`: n = 0 gives the name itself, n = 2 turns "a.pdf" into
// "a (2).pdf" and "README" into "README (2)". A numbered name longer than 255 bytes is shortened
// before its number (the extension too if it must), never inside a UTF-8 character.
std::string NumberedName(const std::string& name, unsigned n);

// Removes the temporary copies that a move killed half-way left in the folder `folderFd`.
void RemoveStaleCopies(int folderFd);

}  // namespace quorvel
