#pragma once

#include <optional>
#include <string>

#include "dropfolder/FileIdentity.h"

namespace quorvel {

// Which folder a folder setting ([Main] MailFolder or LostFolder) stood for when the settings were
// checked (at the start and at every continue): its device and inode as the path resolved then,
// through any link the administrator had made. A cycle uses the folder only while the path still
// resolves to it, so a folder swapped for a link or another folder since is never used. A path
// that was missing then is taken when it appears, but only as a real folder: a link made after
// the check is not followed. A path not checked before (the setting was edited) is pinned when it
// is first seen.
class PinnedFolder {
public:
    // Pins what `path` resolves to now; a path that is missing or not a folder pins its absence.
    void Pin(const std::string& path);

    // "" while `path` still resolves to the pinned folder (or is still missing, or appears as a
    // real folder where there was none); otherwise what changed, for a result that names the
    // setting `key`: "[Main] <key> <path> is not the folder it was when the settings were checked
    // (...)". Pins a path first seen.
    std::string Check(const std::string& key, const std::string& path);

    // True when a folder is pinned (not its absence).
    bool Known() const { return pinned_.has_value(); }

    // True when the folder open at `fd` is the pinned one; where none was pinned, it is pinned now.
    bool Hold(int fd);

private:
    std::string path_;
    bool checked_ = false;
    std::optional<FileIdentity> pinned_;
};

}  // namespace quorvel
