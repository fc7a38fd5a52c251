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

// The value of an unstructured header such as Subject: `text` cleaned, and encoded when it is
// not plain.
std::string UnstructuredHeaderValue(std::string_view text, std::size_t used);

// The file name parameter of Content-Disposition for clean UTF-8 text: filename="name" when the
// name is plain and needs no quoting, otherwise RFC 2231 `filename*` in UTF-8, split into
// numbered continuations (each on its own folded line, none inside a UTF-8 character) when long.
std::string FileNameParameter(std::string_view name);

// The name parameter of Content-Type, for readers that do not know RFC 2231: name="name", or
// the RFC 2047 encoded words of the name between the quotes.
std::string NameParameter(std::string_view name);

}  // namespace quorvel
