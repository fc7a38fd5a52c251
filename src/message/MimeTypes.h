#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace quorvel {

// Content types by file name extension, as listed in a mime.types file ("type ext ext ..." per
// line, "#" starts a comment). The first type that lists an extension keeps it.
class MimeTypes {
public:
    static constexpr const char* kSystemFile = "/etc/mime.types";
    static constexpr const char* kDefault = "application/octet-stream";

    // The table of `path`; an absent or unreadable file gives an empty table.
    static MimeTypes Load(const std::filesystem::path& path = kSystemFile);
    static MimeTypes Parse(std::string_view text);

    // The type for the extension of `fileName` (after its last ".", in any letter case), or
    // application/octet-stream.
    std::string ForFileName(std::string_view fileName) const;

private:
    std::map<std::string, std::string, std::less<>> byExtension_;
};

}  // namespace quorvel
