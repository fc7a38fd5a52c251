#include "config/GetAddress.h"

#include "base/FileContents.h"
#include "base/TextCodec.h"
#include "base/TextRules.h"

namespace quorvel {

namespace {

bool IsAliasHeader(std::string_view line) { return SameNameAnyCase(line, "[alias]"); }

void ForEachAliasIn(std::string_view text, const AliasVisitor& visit) {
    TextCodec codec = TextCodec::ForLocale();
    bool inSection = false;
    ForEachLine(WithoutUtf8Bom(text), [&](std::string_view raw) {
        std::string line = codec.ToUtf8(raw);
        std::size_t first = inSection ? line.find('=') : std::string::npos;
        if (first != std::string::npos) {
            std::size_t second = line.find('=', first + 1);
            std::string_view view(line);
            if (!visit(view.substr(0, first),
                       view.substr(first + 1, second == std::string::npos ? std::string_view::npos
                                                                          : second - first - 1))) {
                return false;
            }
        }
        if (IsAliasHeader(line)) inSection = true;
        return true;
    });
}

}  // namespace

void ForEachAlias(const clsINI& Ini, const AliasVisitor& visit) {
    ForEachAliasIn(Ini.Text().value_or(std::string()), visit);
}

void ForEachAlias(const std::filesystem::path& appFolder, const AliasVisitor& visit) {
    ForEachAliasIn(ReadFileContents(appFolder / "options.ini"), visit);
}

std::string GetAddress(const std::string& folder, const clsINI& Ini) {
    std::string result = folder;
    ForEachAlias(Ini, [&](std::string_view alias, std::string_view address) {
        if (alias != folder) return true;
        result = address;
        return false;
    });
    return result;
}

}  // namespace quorvel
