#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/Utf8Text.h"  // CleanHeaderText: what may stand in a header

namespace quorvel {

// True when `text` can stand in a header as it is: printable ASCII only, and no "=?" that a
// reader could take for the start of an encoded word.
bool IsPlainHeaderText(std::string_view text);

// RFC 2047 "B" encoded words for clean UTF-8 text, folded: words are separated by CR LF SP, no
// word is longer than 75 characters, no line longer than 76 (the first line counts `used`
// characters already there, e.g. "Subject: "), and no word ends inside a UTF-8 character.
std::string EncodeWords(std::string_view text, std::size_t used);

// The value of an unstructured header such as Subject: `text` cleaned, and encoded (so folded)
// when it is not plain or does not fit on the header's first line after `used` characters.
std::string UnstructuredHeaderValue(std::string_view text, std::size_t used);

// "Name: value", or "Name:" and the value on a folded line when that keeps both within 78
// characters.
std::string HeaderLine(std::string_view name, std::string_view value);

// The file name parameter of Content-Disposition for clean UTF-8 text, for a line of its own:
// filename="name" when the name is plain, needs no quoting and fits, otherwise RFC 2231
// `filename*` in UTF-8, split into numbered continuations (each on its own folded line, none
// inside a UTF-8 character) when long. No line is longer than 78 characters.
std::string FileNameParameter(std::string_view name);

// The name parameter of Content-Type, for readers that do not know RFC 2231, for a line of its
// own: name="name" when that fits, or the RFC 2047 encoded words of the name between the quotes.
std::string NameParameter(std::string_view name);

}  // namespace quorvel
