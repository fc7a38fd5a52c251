#include "base/Utf8Text.h"

#include <algorithm>

#include "base/TextCodec.h"

namespace quorvel {

namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string CleanLogText(std::string_view text) {
    const std::string utf8 = TextCodec("UTF-8").ToUtf8(text);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool c1 =
            c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0;
        if (c < 0x20 || c == 0x7F || c1) {
            out += '_';
            if (c1) ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::size_t Utf8CharLength(std::string_view text) {
    if (text.empty()) return 0;
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c = at(0);
    const std::size_t n = c < 0x80                ? 1
                          : c >= 0xC2 && c < 0xE0 ? 2
                          : c >= 0xE0 && c < 0xF0 ? 3
                          : c >= 0xF0 && c < 0xF5 ? 4
                                                  : 0;
    if (n == 0 || text.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if (!IsContinuation(text[i])) return 0;
    }
    const bool outOfRange = (c == 0xE0 && at(1) < 0xA0) || (c == 0xED && at(1) >= 0xA0) ||
                            (c == 0xF0 && at(1) < 0x90) || (c == 0xF4 && at(1) >= 0x90);
    return outOfRange ? 0 : n;
}

std::size_t CharacterCount(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuation(c); }));
}

std::string_view CutAtCharacter(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    // Step back over at most three continuation bytes to the start of a character that the cut
    // would split.
    std::size_t lead = limit;
    while (lead > 0 && limit - lead < 3 && IsContinuation(text[lead])) --lead;
    const bool splits = lead < limit && Utf8CharLength(text.substr(lead)) > limit - lead;
    return text.substr(0, splits ? lead : limit);
}

}  // namespace quorvel
