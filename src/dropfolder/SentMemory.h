#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dropfolder/FileIdentity.h"

namespace quorvel {

// The sent files that could not be deleted, each with the identity it had then, so that one is not
// mailed again while it stays as it is, not even after a restart. They are kept in a small file
// beside mail.log, one file a line: folder and name in hexadecimal (names may hold any byte), then
// the identity's numbers. The file is replaced whole (a temporary file renamed over it), so a
// killed service leaves the old or the new one; lines that do not read are left out, and a file
// that cannot be read or written makes the memory last as long as the process, never stopping it.
class SentMemory {
public:
    explicit SentMemory(std::filesystem::path file);

    // True when `name` of `folder` is remembered and is, `now`, the file it was.
    bool Holds(const std::string& folder, const std::string& name,
               const std::optional<FileIdentity>& now) const;
    bool Empty() const { return files_.empty(); }
    void Add(const std::string& folder, const std::string& name, const FileIdentity& identity);
    // Forgets the files of `folder` that changed or went away (`now` gives a name's identity now):
    // as they now are, they are sent.
    void ForgetChanged(
        const std::string& folder,
        const std::function<std::optional<FileIdentity>(const std::string& name)>& now);

private:
    struct Entry {
        std::string folder;
        std::string name;
        FileIdentity identity;
    };

    void Load();
    void Save() const;

    std::filesystem::path file_;
    std::vector<Entry> files_;
};

}  // namespace quorvel
