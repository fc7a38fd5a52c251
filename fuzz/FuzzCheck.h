#pragma once

// Checks shared by the fuzz targets: a failed check prints what broke and aborts, which
// libFuzzer records as a finding together with the input.

#include <locale.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline void Check(bool ok, const char* what, std::string_view detail = {}) {
    if (ok) return;
    std::fprintf(stderr, "FINDING: %s [%.*s]\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
inline bool IsUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80                ? 0
                        : c >= 0xC2 && c < 0xE0 ? 1
                        : c >= 0xE0 && c < 0xF0 ? 2
                        : c >= 0xF0 && c < 0xF5 ? 3
                                                : 9;
        if (n == 9 || i + n >= s.size()) return false;
        const auto c1 = static_cast<unsigned char>(s[i + (n ? 1 : 0)]);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 >= 0x90)) {
            return false;
        }
        for (std::size_t k = 1; k <= n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n + 1;
    }
    return true;
}

// Splits the fuzz input at NUL bytes into `count` fields; the last one takes the rest.
inline std::vector<std::string> Fields(const std::uint8_t* data, std::size_t size,
                                       std::size_t count) {
    std::vector<std::string> fields(count);
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const auto nul = rest.find('\0');
        fields[i] = rest.substr(0, nul);
        rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    }
    fields[count - 1] = rest;
    return fields;
}

// Switches this thread's LC_CTYPE to UTF-8 or, when `cp1251` and the locale exists, to
// ru_RU.CP1251. Both are loaded once: setlocale on every input would be most of the run time.
inline void UseLocale(bool cp1251) {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    static const locale_t windows = ::newlocale(LC_CTYPE_MASK, "ru_RU.CP1251", nullptr);
    Check(utf8 != nullptr, "no C.UTF-8 locale");
    ::uselocale(cp1251 && windows != nullptr ? windows : utf8);
}

// A folder of the target's own, made once per process, holding options.ini.
inline const std::filesystem::path& ScratchFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path shm = "/dev/shm";  // a RAM file system keeps the writes cheap
        std::string pattern =
            ((std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path()) /
             "quorvel-fuzz-XXXXXX")
                .string();
        Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
        std::atexit([] { std::filesystem::remove_all(ScratchFolder()); });
        return std::filesystem::path(pattern);
    }();
    return folder;
}

inline std::filesystem::path WriteOptions(std::string_view content) {
    const auto path = ScratchFolder() / "options.ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
    return path;
}

inline std::string Base64Decode(std::string_view text) {
    std::string out;
    unsigned bits = 0, count = 0;
    for (char c : text) {
        const auto digit =
            std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
                .find(c);
        if (c == '=') break;
        Check(digit != std::string_view::npos, "not base64", text);
        bits = (bits << 6) | static_cast<unsigned>(digit);
        if ((count += 6) >= 8) out += static_cast<char>((bits >> (count -= 8)) & 0xFF);
    }
    return out;
}

// The lines of header text folded with CR LF SP; any other CR or LF is a finding.
inline std::vector<std::string_view> FoldedLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const auto end = text.find_first_of("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return lines;
        Check(text.substr(end, 3) == "\r\n ", "bare CR or LF", text);
        start = end + 2;
    }
}

// The text of RFC 2047 "B" words in UTF-8 that stand one per folded line; each line may carry
// `before` text ahead of its word and `after` text behind it. Every word must decode on its own.
inline std::string DecodeWords(std::string_view text, std::size_t lineLimit, std::size_t used) {
    std::string out;
    for (std::string_view line : FoldedLines(text)) {
        Check(used + line.size() <= lineLimit, "line over the limit", text);
        const auto start = line.find("=?UTF-8?B?"), end = line.rfind("?=");
        Check(start != std::string_view::npos && end != std::string_view::npos && end > start,
              "not a word", line);
        Check(end + 2 - start <= 75, "word over 75 characters", line);
        const std::string word = Base64Decode(line.substr(start + 10, end - start - 10));
        Check(IsUtf8(word), "word ends inside a character", line);
        out += word;
        used = 0;
    }
    return out;
}

}  // namespace fuzz
