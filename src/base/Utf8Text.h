#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// Text from outside (a file or folder name, a value of options.ini, a server's reply) made safe for
// one line of mail.log, the journal, a header or the body of a message: valid UTF-8 (a byte that is
// not part of a valid sequence becomes U+FFFD) with every control character (C0, DEL, C1) replaced
// by "_", so that no such text can end a line or start another one.
std::string CleanHeaderText(std::string_view text);

// The length of the UTF-8 character that starts with `lead` (valid text: always 1 to 4).
std::size_t Utf8CharLength(unsigned char lead);

// The number of characters of UTF-8 text: a Cyrillic name is as long as it looks.
std::size_t CharacterCount(std::string_view text);

// The longest prefix of `text` of at most `limit` bytes that does not end inside a UTF-8 character.
std::string_view CutAtCharacter(std::string_view text, std::size_t limit);

}  // namespace quorvel
