#include "base/TextCodec.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "base/Error.h"
#include "base/Utf8Text.h"

namespace quorvel {

namespace {

bool NamesUtf8(const std::string& charset) {
    std::string upper;
    for (char c : charset) {
        if (c != '-' && c != '_')
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    // The C/POSIX locale reports ASCII; text beyond ASCII is kept as UTF-8 there.
    return upper == "UTF8" || upper == "ANSIX3.41968" || upper == "ASCII" || upper == "USASCII";
}

struct IconvCloser {
    void operator()(iconv_t cd) const { iconv_close(cd); }
};

// Converts `in` from `from` to `to`; an input byte that does not convert (or an incomplete
// sequence at the end) is skipped and `replacement` written in its place.
std::string Convert(std::string_view in, const char* to, const char* from,
                    std::string_view replacement) {
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
        while (fromUtf8 && srcLeft > 0 && (static_cast<unsigned char>(*src) & 0xC0) == 0x80)
            ++src, --srcLeft;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    iconv(cd.get(), nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    return out;
}

// UTF-8 text with every invalid sequence (its first byte and the continuation bytes after it)
// replaced. Done here rather than by iconv, which lets code points above U+10FFFF through.
std::string RepairUtf8(std::string_view in, std::string_view replacement) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t pos = 0; pos < in.size();) {
        const std::size_t n = Utf8CharLength(in.substr(pos));
        if (n > 0) {
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

TextCodec::TextCodec(std::string charset)
    : charset_(std::move(charset)), utf8_(NamesUtf8(charset_)) {}

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
    return utf8_ ? CutAtCharacter(bytes, limit) : bytes.substr(0, limit);
}

}  // namespace quorvel
