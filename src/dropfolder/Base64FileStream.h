#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/Base64.h"
#include "base/ContentDigest.h"
#include "base/FileDescriptor.h"
#include "dropfolder/Batch.h"
#include "message/AttachmentContent.h"

namespace quorvel {

// One attachment's file as base64 text in lines of 76 characters separated by CR LF, read from
// disk in large pieces as the message goes out, never whole into memory, and encoded straight
// into the caller's buffer (libcurl's upload buffer). The file is named relative to its folder's
// descriptor and must be the file that was listed: it is checked when the stream is made and again
// when it is opened at its first read (without following a link and without blocking, so a FIFO
// swapped in never holds the send). A file gone, no longer a regular file, or another or changed
// file throws LocalChange; a file that cannot be read for another reason throws Error. At most the
// listed size is read; the file's identity at the end of its streaming goes to `file.Sent`, the
// digest of the bytes read to `file.SentDigest`, and the file is closed. An empty file is opened,
// checked and finished when the stream is made: nothing ever asks it for content.
class Base64FileStream : public AttachmentContent {
public:
    Base64FileStream(int folderFd, BatchFile& file);

    // Fills up to `size` bytes of `out`; 0 at the end. Throws Error when the file cannot be read.
    std::size_t Read(char* out, std::size_t size) override;
    // Back to the start, for a transfer that is sent again.
    void Rewind() override;

private:
    void Open();
    void Finish();
    void FinishIfEmpty();
    void Close();
    bool Refill();
    void Check(const struct stat& info) const;
    std::size_t ReadPiece();
    std::size_t Spill(char* out, std::size_t size);

    int folderFd_;
    BatchFile& file_;
    std::uintmax_t left_ = 0;
    FileDescriptor fd_;
    std::unique_ptr<DigestBuilder> digest_;  // while the file is open
    std::vector<unsigned char> input_;       // while a piece is being encoded
    std::size_t inputPos_ = 0;
    std::size_t inputEnd_ = 0;
    Base64Lines encoder_;
    // A group whose characters did not all fit in the caller's buffer, for the next read.
    std::array<char, 8> spill_{};
    std::size_t spillPos_ = 0;
    std::size_t spillEnd_ = 0;
    bool end_ = false;
};

}  // namespace quorvel
