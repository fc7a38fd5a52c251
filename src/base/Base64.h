#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// The one base64 encoder of the service (RFC 4648 alphabet, "=" padding).

// The length of `bytes` bytes encoded in lines of 76 characters separated by CR LF.
std::uint64_t Base64LinesSize(std::uint64_t bytes);

// Base64 in lines of 76 characters separated by CR LF (none after the last), written piece by
// piece straight into the caller's buffer: a file goes through Encode in pieces, every piece but
// the last a whole number of 3-byte groups, and comes out as one encoding of the whole.
class Base64Lines {
public:
    // The most bytes, a whole number of 3-byte groups, whose encoding fits in `room` characters
    // at this point of the output. The last piece of a file, shorter than a group, fits where a
    // group does.
    std::size_t InputFor(std::size_t room) const;
    // Writes `data` as base64 to `out`, which has room for its encoding (InputFor), and returns
    // the number of characters written.
    std::size_t Encode(const unsigned char* data, std::size_t size, char* out);
    // Back to the start of an encoding.
    void Reset() { lineLength_ = 0; }

private:
    std::size_t lineLength_ = 0;  // characters on the current line
};

// `bytes` as base64 on one line, for an encoded word of a header.
std::string Base64(std::string_view bytes);

}  // namespace quorvel
