#include "settings/FolderRules.h"

#include <algorithm>

#include "base/Utf8Text.h"

namespace quorvel {

namespace {

std::filesystem::path Resolved(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(folder, ec);
    return (ec ? folder.lexically_normal() : resolved.lexically_normal()) / "";
}

// True when `inner` is `outer` or lies inside it, component by component.
bool Within(const std::filesystem::path& inner, const std::filesystem::path& outer) {
    auto i = inner.begin(), o = outer.begin();
    for (; o != outer.end() && !o->empty(); ++i, ++o) {
        if (i == inner.end() || *i != *o) return false;
    }
    return true;
}

}  // namespace

std::string ResolveFolder(std::string value, const std::filesystem::path& iniFolder) {
    if (!value.empty() && (value.back() == '/' || value.back() == '\\')) value.pop_back();
    if (value.empty() || value.front() == '/') return value;
    return (iniFolder / value).string();
}

bool FoldersOverlap(const std::filesystem::path& a, const std::filesystem::path& b) {
    const std::filesystem::path ra = Resolved(a), rb = Resolved(b);
    return Within(ra, rb) || Within(rb, ra);
}

std::string FolderOverlapText(const std::string& mailFolder, const std::string& lostFolder) {
    return "Каталог неотправленной почты не может совпадать с каталогом почты или лежать с ним один в другом: "
           "[Main] MailFolder = \"" + CleanHeaderText(mailFolder) + "\", [Main] LostFolder = \"" +
           CleanHeaderText(lostFolder) + "\"";
}

std::string FolderOverlapRule(clsINI& Ini, const std::filesystem::path& appFolder) {
    const std::string mail = ResolveFolder(Ini.ReadINI("MailFolder", "Main"), appFolder);
    const std::string lost = ResolveFolder(Ini.ReadINI("LostFolder", "Main"), appFolder);
    if (mail.empty() || lost.empty() || !FoldersOverlap(mail, lost)) return "";
    return FolderOverlapText(mail, lost) + "\r\n";
}

}  // namespace quorvel
