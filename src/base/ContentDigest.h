#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quorvel {

// A 128-bit digest of a file's content (XXH3), to tell whether a file that only changed its mode
// or times still holds what was sent. Not a cryptographic check: it guards against a writer that
// touched the file, not against someone who forges a collision.
struct ContentDigest {
    std::uint64_t Low = 0;
    std::uint64_t High = 0;
    bool operator==(const ContentDigest&) const = default;
};

// Digests a stream of bytes piece by piece.
class DigestBuilder {
public:
    DigestBuilder();
    ~DigestBuilder();
    DigestBuilder(const DigestBuilder&) = delete;
    DigestBuilder& operator=(const DigestBuilder&) = delete;

    void Reset();
    void Add(const void* data, std::size_t size);
    ContentDigest Finish() const;

private:
    void* state_;
};

// The digest of the first `size` bytes of the open file `fd`, read from its start with pread;
// empty when the file cannot be read or holds fewer bytes.
std::optional<ContentDigest> DigestOfFile(int fd, std::uint64_t size);

}  // namespace quorvel
