#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Base64.h"
#include "base/ContentDigest.h"
#include "base/FileDescriptor.h"
#include "mail/Batch.h"

namespace quorvel {

// One attachment's file as base64 text in lines of 76 characters separated by CR LF, read from
// disk in large pieces as the message goes out, never whole into memory. libcurl's own encoder
// works in 256-byte pieces and hands each to the socket on its own; this one lets a send fill the
// upload buffer. The file is named relative to its folder's descriptor and must be the file that
// was listed: it is checked when the stream is made and again when it is opened at its first read
// (without following a link and without blocking, so a FIFO swapped in never holds the send). A
// file gone, no longer a regular file, or another or changed file throws LocalChange; a file that
// cannot be read for another reason throws Error. At most the listed size is read; the file's
// identity at the end of its streaming goes to `file.Sent`, and the file is closed.
class Base64FileStream {
public:
    Base64FileStream(int folderFd, BatchFile& file);

    // Fills up to `size` bytes of `out`; 0 at the end. Throws Error when the file cannot be read.
    std::size_t Read(char* out, std::size_t size);
    // Back to the start, for a transfer that is sent again.
    void Rewind();

private:
    void Open();
    void Close();
    bool Refill();
    void Check(const struct stat& info) const;
    std::size_t ReadPiece();

    int folderFd_;
    BatchFile& file_;
    std::uintmax_t left_ = 0;
    FileDescriptor fd_;
    std::unique_ptr<DigestBuilder> digest_ = std::make_unique<DigestBuilder>();
    std::vector<unsigned char> input_;
    std::string encoded_;
    std::size_t encodedPos_ = 0;
    std::size_t lineLength_ = 0;
    bool end_ = false;
};

}  // namespace quorvel
