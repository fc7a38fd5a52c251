// TextCodec in UTF-8, CP1251 and the C locale's ASCII: conversion both ways never throws, the
// output is valid in its character set, text valid in the charset survives the way back and
// forth, and a cut is a prefix within the limit that splits no character.
#include "FuzzCheck.h"
#include "base/TextCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const quorvel::TextCodec codecs[] = {quorvel::TextCodec("UTF-8"),
                                                quorvel::TextCodec("CP1251"),
                                                quorvel::TextCodec("ANSI_X3.4-1968")};
    const quorvel::TextCodec& codec = codecs[data[0] % 3];
    const std::size_t limit = data[1];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
    auto validInCharset = [&](std::string_view s) {
        return codec.IsUtf8() ? fuzz::IsUtf8(s) : s.find('\x98') == std::string_view::npos;
    };

    const std::string text = codec.ToUtf8(bytes);
    fuzz::Check(fuzz::IsUtf8(text), "ToUtf8 gave invalid UTF-8", bytes);
    fuzz::Check(validInCharset(codec.FromUtf8(bytes)), "FromUtf8 gave bytes invalid in the charset",
                bytes);
    if (validInCharset(bytes)) {
        fuzz::Check(codec.FromUtf8(text) == bytes, "valid text changed on the way back", bytes);
        fuzz::Check(!codec.IsUtf8() || text == bytes, "valid UTF-8 changed", bytes);
    }

    const std::string_view cut = codec.CutToBytes(bytes, limit);
    fuzz::Check(bytes.substr(0, cut.size()) == cut && cut.size() <= limit,
                "cut is not a prefix within the limit", bytes);
    fuzz::Check(
        cut.size() == std::min(limit, bytes.size()) || (codec.IsUtf8() && cut.size() + 3 >= limit),
        "cut dropped more than a split character", bytes);
    if (validInCharset(bytes)) fuzz::Check(validInCharset(cut), "cut splits a character", bytes);
    return 0;
}
