#include "message/MimeTypes.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "base/Error.h"
#include "base/FileContents.h"

namespace quorvel {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return out;
}

}  // namespace

MimeTypes MimeTypes::Load(const std::filesystem::path& path) {
    try {
        return Parse(ReadFileIfPresent(path).value_or(""));
    } catch (const Error&) {
        return MimeTypes{};
    }
}

MimeTypes MimeTypes::Parse(std::string_view text) {
    MimeTypes table;
    ForEachLine(text, [&](std::string_view line) {
        std::istringstream words{std::string(line.substr(0, line.find('#')))};
        std::string type, extension;
        if (words >> type && type.find('/') != std::string::npos) {
            while (words >> extension) table.byExtension_.emplace(Lower(extension), type);
        }
        return true;
    });
    return table;
}

std::string MimeTypes::ForFileName(std::string_view fileName) const {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return kDefault;
    const auto found = byExtension_.find(Lower(fileName.substr(dot + 1)));
    return found == byExtension_.end() ? kDefault : found->second;
}

}  // namespace quorvel
