#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The whole content of a file. Throws Error (errno, path and reason) when it cannot be read.
std::string ReadFileContents(const std::filesystem::path& path);

// As ReadFileContents, but an absent file (ENOENT, ENOTDIR) gives nullopt.
std::optional<std::string> ReadFileIfPresent(const std::filesystem::path& path);

// `text` without a UTF-8 byte-order mark at its start.
inline std::string_view WithoutUtf8Bom(std::string_view text) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    return text.substr(0, kBom.size()) == kBom ? text.substr(kBom.size()) : text;
}

// Splits text into lines; CR LF, CR and LF each end a line. A last line without an ending counts.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        if (!visit(text.substr(pos, end - pos))) return;
        pos = end + 1;
        if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
}

}  // namespace quorvel
