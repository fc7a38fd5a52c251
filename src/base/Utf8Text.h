#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// Text from outside (a file or folder name, a value of options.ini, a server's reply) made safe for
// one line of mail.log, the journal or the status line: valid UTF-8 (a byte that is not part of a
// valid sequence becomes U+FFFD) with every control character (C0, DEL, C1) replaced by "_", so
// that no such text can end a line or start another one.
std::string CleanLogText(std::string_view text);

// The same cleaning for a header or a line of a message's body, before any encoding.
inline std::string CleanHeaderText(std::string_view text) { return CleanLogText(text); }

// The length (1 to 4) of the UTF-8 character at the start of `text`; 0 when no valid one starts
// there (empty text, a stray or missing continuation byte, an overlong form, a surrogate, a code
// point above U+10FFFF).
std::size_t Utf8CharLength(std::string_view text);

// The number of characters of UTF-8 text: a Cyrillic name is as long as it looks.
std::size_t CharacterCount(std::string_view text);

// The longest prefix of `text` of at most `limit` bytes that does not end inside a UTF-8 character.
// Stray continuation bytes are no character and are cut anywhere.
std::string_view CutAtCharacter(std::string_view text, std::size_t limit);

}  // namespace quorvel
