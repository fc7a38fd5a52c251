#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Converts between the UTF-8 text held in memory and the character set of options.ini and
// mail.log (the locale's). Bytes that do not convert are replaced, never fatal: '?' towards the
// file, U+FFFD towards memory.
class TextCodec {
public:
    explicit TextCodec(std::string charset);

    // The character set of the current LC_CTYPE locale; the C/POSIX locale counts as UTF-8.
    static TextCodec ForLocale();

    bool IsUtf8() const { return utf8_; }

    std::string ToUtf8(std::string_view bytes) const;
    std::string FromUtf8(std::string_view text) const;

    // The longest prefix of `bytes` (text in this character set) of at most `limit` bytes that
    // does not end inside a character.
    std::string_view CutToBytes(std::string_view bytes, std::size_t limit) const;

private:
    std::string charset_;
    bool utf8_;
};

}  // namespace quorvel
