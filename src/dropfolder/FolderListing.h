#pragma once

#include <dirent.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// What a drop folder entry counts as. Symbolic links, FIFOs, sockets and devices are system
// entries: never seen, never opened, never followed.
enum class EntryKind { Folder, File, System };

// One open folder, read as the kernel hands its entries out (getdents through readdir). Hidden
// entries (names starting with ".", which takes in "." and "..") and system entries are skipped.
// The kind of an entry comes from d_type, or from fstatat without following links where the file
// system leaves d_type unknown. Errors name the folder's path and the system's reason.
class FolderListing {
public:
    using Visit = std::function<bool(std::string_view name, EntryKind kind)>;

    // Opens `path`, following a symbolic link there (the administrator's own setting may be one).
    // Throws Error when the folder cannot be opened.
    static FolderListing Open(const std::string& path);

    // Opens the entry `name` of this folder without following a link. Empty when the entry is gone,
    // is no longer a folder or has become a link since it was listed; throws Error otherwise.
    std::optional<FolderListing> OpenSubfolder(const std::string& name) const;

    // Lists the folder of a descriptor that the listing takes over; `path` names it in errors.
    static FolderListing Adopt(int fd, std::string path) {
        return FolderListing(fd, std::move(path));
    }

    // The folder's descriptor, for work relative to it; valid as long as the listing.
    int Fd() const { return ::dirfd(dir_.get()); }

    // Calls `visit` for every visible entry until it returns false. Throws Error on a read error.
    void ForEach(const Visit& visit);

    const std::string& Path() const { return path_; }

private:
    struct DirCloser {
        void operator()(DIR* dir) const { ::closedir(dir); }
    };

    FolderListing(int fd, std::string path);
    static std::optional<FolderListing> FromOpenResult(int fd, int err, std::string path);

    std::unique_ptr<DIR, DirCloser> dir_;
    std::string path_;
};

}  // namespace quorvel
