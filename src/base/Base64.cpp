#include "base/Base64.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace quorvel {

namespace {

constexpr std::size_t kLineLength = 76;
constexpr std::size_t kGroupsPerLine = kLineLength / 4;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of every 12-bit value: a group of 3 bytes takes two look-ups.
using Pair = std::array<char, 2>;
constexpr std::array<Pair, 4096> kPairs = [] {
    std::array<Pair, 4096> pairs{};
    for (std::size_t v = 0; v < pairs.size(); ++v)
        pairs[v] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
    return pairs;
}();

inline void PutPair(char* out, std::uint64_t value) {
    std::memcpy(out, kPairs[value & 0xfff].data(), 2);
}

// The next 8 bytes as one number, the first byte the highest.
inline std::uint64_t Load8(const unsigned char* data) {
    std::uint64_t word;
    std::memcpy(&word, data, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
}

// `groups` whole groups of 3 bytes, without line breaks. Two groups at a time from one 8-byte load
// while a third follows, so that no load reaches past the groups.
char* EncodeGroups(const unsigned char* data, std::size_t groups, char* out) {
    for (; groups >= 3; groups -= 2, data += 6, out += 8) {
        const std::uint64_t word = Load8(data);
        PutPair(out, word >> 52);
        PutPair(out + 2, word >> 40);
        PutPair(out + 4, word >> 28);
        PutPair(out + 6, word >> 16);
    }
    for (; groups > 0; --groups, data += 3, out += 4) {
        const std::uint32_t group = (data[0] << 16) | (data[1] << 8) | data[2];
        PutPair(out, group >> 12);
        PutPair(out + 2, group);
    }
    return out;
}

// The last 1 or 2 bytes of an encoding, padded with "=".
char* EncodeLast(const unsigned char* data, std::size_t size, char* out) {
    const unsigned group = (data[0] << 16) | (size > 1 ? data[1] << 8 : 0);
    out[0] = kAlphabet[(group >> 18) & 63];
    out[1] = kAlphabet[(group >> 12) & 63];
    out[2] = size > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    out[3] = '=';
    return out + 4;
}

}  // namespace

std::uint64_t Base64LinesSize(std::uint64_t bytes) {
    const std::uint64_t characters = (bytes + 2) / 3 * 4;
    const std::uint64_t lines = (characters + kLineLength - 1) / kLineLength;
    return characters + (lines > 0 ? 2 * (lines - 1) : 0);
}

// With `g` groups on the current line, groups g+1 ... g+k take 4k characters and a line break
// before every group that begins a line but the first: counting the groups from the start of the
// line, T = g + k and T - 1 = 19q + r (r < 19), that is 78q + 4(r + 1 - g) characters.
std::size_t Base64Lines::InputFor(std::size_t room) const {
    const std::size_t onLine = lineLength_ / 4;
    if (room + 4 * onLine < 4) return 0;
    const std::size_t reach = room + 4 * onLine - 4;
    const std::size_t lines = reach / (kLineLength + 2);
    const std::size_t rest = std::min(kGroupsPerLine - 1, reach % (kLineLength + 2) / 4);
    const std::size_t total = lines * kGroupsPerLine + rest + 1;
    return total > onLine ? 3 * (total - onLine) : 0;
}

std::size_t Base64Lines::Encode(const unsigned char* data, std::size_t size, char* out) {
    char* const start = out;
    const auto breakFullLine = [&] {
        if (lineLength_ < kLineLength) return;
        std::memcpy(out, "\r\n", 2);
        out += 2;
        lineLength_ = 0;
    };
    for (std::size_t groups = size / 3; groups > 0;) {
        breakFullLine();
        const std::size_t take = std::min(groups, (kLineLength - lineLength_) / 4);
        out = EncodeGroups(data, take, out);
        data += 3 * take;
        groups -= take;
        lineLength_ += 4 * take;
    }
    if (size % 3 != 0) {
        breakFullLine();
        out = EncodeLast(data, size % 3, out);
        lineLength_ += 4;
    }
    return static_cast<std::size_t>(out - start);
}

std::string Base64(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t groups = bytes.size() / 3;
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    char* end = EncodeGroups(data, groups, out.data());
    if (bytes.size() % 3 != 0) EncodeLast(data + 3 * groups, bytes.size() % 3, end);
    return out;
}

}  // namespace quorvel
