#include "base/TextCodec.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "base/Error.h"

namespace quorvel {

namespace {

bool NamesUtf8(const std::string& charset) {
    std::string upper;
    for (char c : charset) {
        if (c != '-' && c != '_') upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    // The C/POSIX locale reports ASCII; text beyond ASCII is kept as UTF-8 there.
    return upper == "UTF8" || upper == "ANSIX3.41968" || upper == "ASCII" || upper == "USASCII";
}

struct IconvCloser {
    void operator()(iconv_t cd) const { iconv_close(cd); }
};

// Converts `in` from `from` to `to`; an input byte that does not convert (or an incomplete
// sequence at the end) is skipped and `replacement` written in its place.
std::string Convert(std::string_view in, const char* to, const char* from, std::string_view replacement) {
    const bool fromUtf8 = std::string_view(from) == "UTF-8";
    iconv_t raw = iconv_open(to, from);
    if (raw == reinterpret_cast<iconv_t>(-1)) {
        throw SystemError(std::string("cannot convert text from ") + from + " to " + to);
    }
    std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser> cd(raw);

    std::string out;
    out.reserve(in.size() + in.size() / 2 + 8);
    char buffer[4096];
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        std::size_t rc = iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL: one byte does not convert; replace it and go on.
        // From UTF-8 the whole character goes, not only its first byte.
        out.append(replacement);
        ++src;
        --srcLeft;
        while (fromUtf8 && srcLeft > 0 && (static_cast<unsigned char>(*src) & 0xC0) == 0x80) ++src, --srcLeft;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    iconv(cd.get(), nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    return out;
}

// The length of the UTF-8 character at the start of `s`, and in `valid` whether it is one
// (shortest form, no surrogate, nothing above U+10FFFF, complete); 1 when it is not.
std::size_t Utf8CharLength(std::string_view s, bool* valid) {
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = at(0);
    const std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xF0 && c < 0xF5 ? 4 : 0;
    *valid = n > 0 && s.size() >= n;
    for (std::size_t i = 1; *valid && i < n; ++i) *valid = (at(i) & 0xC0) == 0x80;
    if (*valid && n > 2) {
        *valid = !((c == 0xE0 && at(1) < 0xA0) || (c == 0xED && at(1) >= 0xA0) || (c == 0xF0 && at(1) < 0x90) ||
                   (c == 0xF4 && at(1) >= 0x90));
    }
    return *valid ? n : 1;
}

// UTF-8 text with every invalid sequence (its first byte and the continuation bytes after it)
// replaced. Done here rather than by iconv, which lets code points above U+10FFFF through.
std::string RepairUtf8(std::string_view in, std::string_view replacement) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t pos = 0; pos < in.size();) {
        bool valid = false;
        const std::size_t n = Utf8CharLength(in.substr(pos), &valid);
        if (valid) {
            out.append(in.substr(pos, n));
            pos += n;
            continue;
        }
        out.append(replacement);
        for (++pos; pos < in.size() && (static_cast<unsigned char>(in[pos]) & 0xC0) == 0x80;) ++pos;
    }
    return out;
}

}  // namespace

TextCodec::TextCodec(std::string charset) : charset_(std::move(charset)), utf8_(NamesUtf8(charset_)) {}

TextCodec TextCodec::ForLocale() {
    const char* codeset = nl_langinfo(CODESET);
    return TextCodec(codeset != nullptr && *codeset != '\0' ? codeset : "UTF-8");
}

std::string TextCodec::ToUtf8(std::string_view bytes) const {
    if (utf8_) return RepairUtf8(bytes, "\xEF\xBF\xBD");
    return Convert(bytes, "UTF-8", charset_.c_str(), "\xEF\xBF\xBD");
}

std::string TextCodec::FromUtf8(std::string_view text) const {
    if (utf8_) return RepairUtf8(text, "?");
    return Convert(text, charset_.c_str(), "UTF-8", "?");
}

std::string_view TextCodec::CutToBytes(std::string_view bytes, std::size_t limit) const {
    if (bytes.size() <= limit) return bytes;
    std::size_t end = limit;
    if (utf8_) {
        // Step back over at most three continuation bytes to the start of a character that the
        // cut would split; stray continuation bytes are not a character and are cut anywhere.
        std::size_t lead = limit;
        while (lead > 0 && limit - lead < 3 && (static_cast<unsigned char>(bytes[lead]) & 0xC0) == 0x80) --lead;
        bool valid = false;
        if (lead < limit && Utf8CharLength(bytes.substr(lead), &valid) > limit - lead && valid) end = lead;
    }
    return bytes.substr(0, end);
}

}  // namespace quorvel
