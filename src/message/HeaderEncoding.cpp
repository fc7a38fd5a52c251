#include "message/HeaderEncoding.h"

#include <algorithm>
#include <vector>

#include "base/Base64.h"
#include "base/Utf8Text.h"

namespace quorvel {
namespace {

constexpr std::size_t kLineLimit = 76;
// No header line of a message is longer than this (RFC 5322, 2.1.1).
constexpr std::size_t kHeaderLineLimit = 78;
constexpr std::size_t kWordLimit = 75;
constexpr std::string_view kWordStart = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";
// Continuations of an RFC 2231 parameter carry at most this many characters of encoded text, so
// that the first, " filename*0*=UTF-8''...;", stays within the line limit.
constexpr std::size_t kContinuationLimit = 56;

// Splits clean UTF-8 text into pieces of whole characters; `cost` gives what a character adds to
// a piece, `limit(i)` the most that piece number i may hold.
template <typename Cost, typename Limit>
std::vector<std::string_view> SplitWholeCharacters(std::string_view text, Cost cost, Limit limit) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0, pos = 0, used = 0;
    while (pos < text.size()) {
        const std::size_t len = std::max<std::size_t>(Utf8CharLength(text.substr(pos)), 1);
        const std::size_t add = cost(text.substr(pos, len));
        if (pos > start && used + add > limit(pieces.size())) {
            pieces.push_back(text.substr(start, pos - start));
            start = pos;
            used = 0;
        }
        used += add;
        pos += len;
    }
    if (pos > start) pieces.push_back(text.substr(start, pos - start));
    return pieces;
}

bool IsAttributeChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string PercentEncode(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (IsAttributeChar(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool NeedsNoQuoting(std::string_view name) {
    return IsPlainHeaderText(name) && name.find_first_of("\"\\") == std::string_view::npos;
}

}  // namespace

bool IsPlainHeaderText(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return text.find("=?") == std::string_view::npos;
}

std::string EncodeWords(std::string_view text, std::size_t used) {
    const std::size_t overhead = kWordStart.size() + kWordEnd.size();
    // Base64 turns every 3 bytes into 4 characters; a word holds whole groups of 3 bytes.
    auto bytesFor = [&](std::size_t lineUsed) {
        const std::size_t width = std::min(kWordLimit, kLineLimit - std::min(lineUsed, kLineLimit));
        std::size_t room = width > overhead ? width - overhead : 4;
        return std::max<std::size_t>(room / 4 * 3, 6);
    };
    const std::size_t first = bytesFor(used), later = bytesFor(1);
    auto pieces = SplitWholeCharacters(
        text, [](std::string_view ch) { return ch.size(); },
        [&](std::size_t i) { return i == 0 ? first : later; });
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) out += "\r\n ";
        out += kWordStart;
        out += Base64(pieces[i]);
        out += kWordEnd;
    }
    return out;
}

std::string UnstructuredHeaderValue(std::string_view text, std::size_t used) {
    std::string clean = CleanHeaderText(text);
    return IsPlainHeaderText(clean) && used + clean.size() <= kHeaderLineLimit
               ? clean
               : EncodeWords(clean, used);
}

std::string HeaderLine(std::string_view name, std::string_view value) {
    const std::string line = std::string(name) + ": " + std::string(value);
    return line.size() <= kHeaderLineLimit ? line
                                           : std::string(name) + ":\r\n " + std::string(value);
}

std::string FileNameParameter(std::string_view name) {
    const std::string plain = " filename=\"" + std::string(name) + "\"";
    if (NeedsNoQuoting(name) && plain.size() <= kHeaderLineLimit) return plain.substr(1);
    auto pieces = SplitWholeCharacters(
        name, [](std::string_view ch) { return PercentEncode(ch).size(); },
        [](std::size_t) { return kContinuationLimit; });
    if (pieces.size() == 1) return "filename*=UTF-8''" + PercentEncode(name);
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) out += ";\r\n ";
        out += "filename*" + std::to_string(i) + "*=" + (i == 0 ? "UTF-8''" : "") +
               PercentEncode(pieces[i]);
    }
    return out;
}

std::string NameParameter(std::string_view name) {
    const std::string plain = " name=\"" + std::string(name) + "\"";
    if (NeedsNoQuoting(name) && plain.size() <= kHeaderLineLimit) return plain.substr(1);
    return "name=\"" + EncodeWords(name, 7) + "\"";
}

}  // namespace quorvel
