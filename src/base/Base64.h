#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace quorvel {

// The one base64 encoder of the service (RFC 4648 alphabet, "=" padding).

// The length of `bytes` bytes encoded in lines of 76 characters separated by CR LF.
std::uint64_t Base64LinesSize(std::uint64_t bytes);

// Appends `data` as base64 to `out`, breaking lines with CR LF after `lineLimit` characters;
// `lineLength` carries the length of the current line from one call to the next, so that a file
// can be encoded piece by piece (every piece but the last a whole number of 3-byte groups).
void AppendBase64Lines(const unsigned char* data, std::size_t size, std::size_t& lineLength, std::string& out,
                       std::size_t lineLimit = 76);

// `bytes` as base64 on one line, for an encoded word of a header.
std::string Base64(std::string_view bytes);

}  // namespace quorvel
