#include "dropfolder/SentMemory.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "base/FileContents.h"
#include "base/FileDescriptor.h"

namespace quorvel {

namespace {

std::string Hex(const std::string& text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : text) hex += {kDigits[c >> 4], kDigits[c & 15]};
    return hex;
}

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> FromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string text;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = Nibble(hex[i]), low = Nibble(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        text += static_cast<char>(high * 16 + low);
    }
    return text;
}

}  // namespace

SentMemory::SentMemory(std::filesystem::path file) : file_(std::move(file)) { Load(); }

bool SentMemory::Holds(const std::string& folder, const std::string& name,
                       const std::optional<FileIdentity>& now) const {
    return std::any_of(files_.begin(), files_.end(), [&](const Entry& entry) {
        return entry.folder == folder && entry.name == name && now == entry.identity;
    });
}

void SentMemory::Add(const std::string& folder, const std::string& name,
                     const FileIdentity& identity) {
    std::erase_if(files_,
                  [&](const Entry& entry) { return entry.folder == folder && entry.name == name; });
    files_.push_back({folder, name, identity});
    Save();
}

void SentMemory::ForgetChanged(
    const std::string& folder,
    const std::function<std::optional<FileIdentity>(const std::string& name)>& now) {
    const std::size_t erased = std::erase_if(files_, [&](const Entry& entry) {
        return entry.folder == folder && !(now(entry.name) == entry.identity);
    });
    if (erased > 0) Save();
}

void SentMemory::Load() {
    std::string text;
    try {
        text = ReadFileContents(file_);
    } catch (...) {
        return;  // none yet, or unreadable: nothing remembered
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string folder, name;
        FileIdentity id;
        fields >> folder >> name >> id.Device >> id.Inode >> id.Size >> id.Modified.tv_sec >>
            id.Modified.tv_nsec >> id.Changed.tv_sec >> id.Changed.tv_nsec;
        std::optional<std::string> folderText = FromHex(folder), nameText = FromHex(name);
        if (fields && folderText && nameText && !nameText->empty())
            files_.push_back({*folderText, *nameText, id});
    }
}

void SentMemory::Save() const {
    std::ostringstream text;
    for (const Entry& entry : files_) {
        const FileIdentity& id = entry.identity;
        text << Hex(entry.folder) << ' ' << Hex(entry.name) << ' ' << id.Device << ' ' << id.Inode
             << ' ' << id.Size << ' ' << id.Modified.tv_sec << ' ' << id.Modified.tv_nsec << ' '
             << id.Changed.tv_sec << ' ' << id.Changed.tv_nsec << '\n';
    }
    const std::filesystem::path temporary = file_.string() + ".new";
    FileDescriptor fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.Valid()) return;
    if (!WriteAll(fd.Get(), text.str()) || ::fsync(fd.Get()) != 0 ||
        ::rename(temporary.c_str(), file_.c_str()) != 0) {
        ::unlink(temporary.c_str());
    }
}

}  // namespace quorvel
