#include "base/Base64.h"

namespace quorvel {

namespace {

constexpr std::size_t kLineLength = 76;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void PutChar(char c, std::size_t& lineLength, std::size_t lineLimit, std::string& out) {
    if (lineLength == lineLimit) {
        out += "\r\n";
        lineLength = 0;
    }
    out += c;
    ++lineLength;
}

}  // namespace

std::uint64_t Base64LinesSize(std::uint64_t bytes) {
    const std::uint64_t characters = (bytes + 2) / 3 * 4;
    const std::uint64_t lines = (characters + kLineLength - 1) / kLineLength;
    return characters + (lines > 0 ? 2 * (lines - 1) : 0);
}

void AppendBase64Lines(const unsigned char* data, std::size_t size, std::size_t& lineLength, std::string& out,
                       std::size_t lineLimit) {
    out.reserve(out.size() + size / 3 * 4 + size / 57 * 2 + 8);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned group = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        PutChar(kAlphabet[(group >> 18) & 63], lineLength, lineLimit, out);
        PutChar(kAlphabet[(group >> 12) & 63], lineLength, lineLimit, out);
        PutChar(kAlphabet[(group >> 6) & 63], lineLength, lineLimit, out);
        PutChar(kAlphabet[group & 63], lineLength, lineLimit, out);
    }
    if (i == size) return;
    const unsigned group = (data[i] << 16) | (i + 1 < size ? data[i + 1] << 8 : 0);
    PutChar(kAlphabet[(group >> 18) & 63], lineLength, lineLimit, out);
    PutChar(kAlphabet[(group >> 12) & 63], lineLength, lineLimit, out);
    PutChar(i + 1 < size ? kAlphabet[(group >> 6) & 63] : '=', lineLength, lineLimit, out);
    PutChar('=', lineLength, lineLimit, out);
}

std::string Base64(std::string_view bytes) {
    std::string out;
    std::size_t lineLength = 0;
    AppendBase64Lines(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), lineLength, out,
                      std::numeric_limits<std::size_t>::max());
    return out;
}

}  // namespace quorvel
