#include "config/clsINI.h"

#include <optional>

#include "base/FileContents.h"
#include "base/TextCodec.h"
#include "base/TextRules.h"

namespace quorvel {

namespace {

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// A line of a profile file, classified.
struct ProfileLine {
    enum Kind { kOther, kSection, kEntry } kind = kOther;
    std::string_view name;   // section name or key
    std::string_view value;  // raw value of an entry, blanks dropped
};

ProfileLine Classify(std::string_view raw) {
    std::string_view line = TrimBlanks(raw);
    if (line.empty() || line.front() == ';') return {};
    if (line.front() == '[') {
        std::size_t close = line.find(']');
        std::string_view name =
            line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
        return {ProfileLine::kSection, TrimBlanks(name), {}};
    }
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return {};
    return {ProfileLine::kEntry, TrimBlanks(line.substr(0, eq)), TrimBlanks(line.substr(eq + 1))};
}

// Looks the key up in the first section of that name; the raw value in the file's bytes.
std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key) {
    std::optional<std::string> found;
    enum { kBefore, kInside, kAfter } state = kBefore;
    ForEachLine(text, [&](std::string_view raw) {
        ProfileLine line = Classify(raw);
        if (line.kind == ProfileLine::kSection) {
            if (state == kInside)
                state = kAfter;
            else if (state == kBefore && SameNameAnyCase(line.name, section))
                state = kInside;
        } else if (line.kind == ProfileLine::kEntry && state == kInside &&
                   SameNameAnyCase(line.name, key)) {
            found = std::string(line.value);
        }
        return state != kAfter && !found;
    });
    return found;
}

}  // namespace

void clsINI::Load() { snapshot_ = ReadFileIfPresent(fileName_); }

std::optional<std::string> clsINI::Text() const {
    return snapshot_ ? *snapshot_ : ReadFileIfPresent(fileName_);
}

std::string clsINI::ReadINI(std::string_view KeyName, std::string_view Section) const {
    std::optional<std::string> text = Text();
    if (!text) return {};
    TextCodec codec = TextCodec::ForLocale();
    std::optional<std::string> value =
        FindValue(WithoutUtf8Bom(*text), codec.FromUtf8(Section), codec.FromUtf8(KeyName));
    if (!value) return {};
    return codec.ToUtf8(codec.CutToBytes(Unquote(*value), kValueLimit));
}

}  // namespace quorvel
