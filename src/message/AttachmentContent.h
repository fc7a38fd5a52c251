#pragma once

#include <cstddef>

namespace quorvel {

// The content of one attachment as it goes out: base64 text in lines, produced piece by piece into
// the transport's buffer, so that no attachment is ever held whole in memory. Read and Rewind
// throw LocalChange when the source changed under the send, Error when it cannot be read.
class AttachmentContent {
public:
    virtual ~AttachmentContent() = default;

    // Fills up to `size` bytes of `out`; 0 at the end.
    virtual std::size_t Read(char* out, std::size_t size) = 0;
    // Back to the start, for a transfer that is sent again.
    virtual void Rewind() = 0;
};

}  // namespace quorvel
