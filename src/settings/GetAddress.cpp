#include "settings/GetAddress.h"

#include "base/FileContents.h"
#include "base/TextCodec.h"
#include "base/TextRules.h"

namespace quorvel {

namespace {

bool IsAliasHeader(std::string_view line) { return SameNameAnyCase(line, "[alias]"); }

}  // namespace

std::string GetAddress(const std::string& folder, const std::filesystem::path& appFolder) {
    std::string text = ReadFileContents(appFolder / "options.ini");
    TextCodec codec = TextCodec::ForLocale();
    std::string result = folder;
    bool inSection = false;
    ForEachLine(WithoutUtf8Bom(text), [&](std::string_view raw) {
        std::string line = codec.ToUtf8(raw);
        if (inSection) {
            std::size_t first = line.find('=');
            if (first != std::string::npos && std::string_view(line).substr(0, first) == folder) {
                std::size_t second = line.find('=', first + 1);
                result = line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
                return false;
            }
        }
        if (IsAliasHeader(line)) inSection = true;
        return true;
    });
    return result;
}

}  // namespace quorvel
