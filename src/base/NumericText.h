#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

// The service's conversion of a number written in options.ini or a service parameter to a signed
// 16-bit integer: blanks around the number are allowed, an optional sign, a fraction (after "." or
// the locale's decimal separator) is rounded to the nearest integer with halves going to the even
// neighbour. Throws Error(EINVAL) for a text that is not a number and Error(ERANGE) for one outside
// -32768..32767.
std::int16_t ToInteger16(std::string_view text);

}  // namespace quorvel
