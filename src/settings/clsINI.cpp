#include "settings/clsINI.h"

#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "base/Error.h"
#include "base/FileContents.h"
#include "base/FileDescriptor.h"
#include "base/TextCodec.h"
#include "base/TextRules.h"

namespace quorvel {

namespace {

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
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
        std::string_view name = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
        return {ProfileLine::kSection, TrimBlanks(name), {}};
    }
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return {};
    return {ProfileLine::kEntry, TrimBlanks(line.substr(0, eq)), TrimBlanks(line.substr(eq + 1))};
}


// Looks the key up in the first section of that name; the raw value in the file's bytes.
std::optional<std::string> FindValue(std::string_view text, std::string_view section, std::string_view key) {
    std::optional<std::string> found;
    enum { kBefore, kInside, kAfter } state = kBefore;
    ForEachLine(text, [&](std::string_view raw) {
        ProfileLine line = Classify(raw);
        if (line.kind == ProfileLine::kSection) {
            if (state == kInside) state = kAfter;
            else if (state == kBefore && SameNameAnyCase(line.name, section)) state = kInside;
        } else if (line.kind == ProfileLine::kEntry && state == kInside && SameNameAnyCase(line.name, key)) {
            found = std::string(line.value);
        }
        return state != kAfter && !found;
    });
    return found;
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.Valid()) throw SystemError("cannot write " + temporary.string());
    if (!WriteAll(file.Get(), content) || ::fsync(file.Get()) != 0) {
        int err = errno;
        ::unlink(temporary.c_str());
        throw SystemError("cannot write " + temporary.string(), err);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temporary.c_str());
        throw SystemError("cannot replace " + path.string(), err);
    }
}

// The file's lines with `key=value` set in `section`: the first such key replaced, or the entry
// added at the end of the first such section, or the section added at the end of the file.
std::string WithEntry(std::string_view text, std::string_view section, std::string_view key, std::string_view value) {
    std::string newline = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::string entry = std::string(key) + "=" + std::string(value);
    std::vector<std::string> lines;
    ForEachLine(text, [&](std::string_view line) { lines.emplace_back(line); return true; });

    std::optional<std::size_t> insertAt;
    bool inside = false, done = false;
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
        ProfileLine line = Classify(lines[i]);
        if (line.kind == ProfileLine::kSection) {
            if (inside) break;
            inside = SameNameAnyCase(line.name, section);
            if (inside) insertAt = i + 1;
        } else if (inside && line.kind == ProfileLine::kEntry && SameNameAnyCase(line.name, key)) {
            lines[i] = entry;
            done = true;
        } else if (inside && line.kind == ProfileLine::kEntry) {
            insertAt = i + 1;
        }
    }
    if (!done && insertAt) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*insertAt), entry);
    if (!done && !insertAt) {
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(entry);
    }
    std::string out;
    for (const std::string& line : lines) out += line + newline;
    return out;
}

}  // namespace

std::string clsINI::UseSection(std::string& Section) {
    if (Section.empty()) Section = rememberedSection_.empty() ? "Main" : rememberedSection_;
    rememberedSection_ = Section;
    return Section;
}

void clsINI::Load() { snapshot_ = ReadFileIfPresent(fileName_); }

std::optional<std::string> clsINI::Text() const {
    return snapshot_ ? *snapshot_ : ReadFileIfPresent(fileName_);
}

std::string clsINI::ReadINI(const std::string& KeyName, std::string& Section) {
    UseSection(Section);
    std::optional<std::string> text = Text();
    if (!text) return {};
    TextCodec codec = TextCodec::ForLocale();
    std::optional<std::string> value =
        FindValue(WithoutUtf8Bom(*text), codec.FromUtf8(Section), codec.FromUtf8(KeyName));
    if (!value) return {};
    return codec.ToUtf8(codec.CutToBytes(Unquote(*value), kValueLimit));
}

std::string clsINI::ReadINI(const std::string& KeyName, const std::string& Section) {
    std::string section = Section;
    return ReadINI(KeyName, section);
}

void clsINI::SaveINI(std::string_view KeyValue, const std::string& KeyName, std::string& Section) {
    UseSection(Section);
    TextCodec codec = TextCodec::ForLocale();
    std::string text = ReadFileIfPresent(fileName_).value_or(std::string());
    std::string_view body = WithoutUtf8Bom(text);
    std::string bom = text.substr(0, text.size() - body.size());
    std::string updated = WithEntry(body, codec.FromUtf8(Section), codec.FromUtf8(KeyName), codec.FromUtf8(KeyValue));
    WriteWholeFile(fileName_, bom + updated);
    snapshot_.reset();
}

}  // namespace quorvel
