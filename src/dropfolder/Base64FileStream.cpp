#include "dropfolder/Base64FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/Error.h"
#include "message/LocalChange.h"

namespace quorvel {

namespace {

// A whole number of 3-byte groups, so that only the last piece of a file ends in padding; small
// enough to stay in the cache between the read and the encoding (48 to 768 KiB measured alike).
constexpr std::size_t kPieceSize = 3 * 64 * 1024;

}  // namespace

Base64FileStream::Base64FileStream(int folderFd, BatchFile& file)
    : folderFd_(folderFd), file_(file) {
    struct stat info {};
    if (::fstatat(folderFd_, file_.Name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            throw LocalChange("[" + file_.Name + "] is gone since it was listed", errno);
        throw SystemError("cannot open " + file_.Name);
    }
    Check(info);
    if (::faccessat(folderFd_, file_.Name.c_str(), R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
        throw SystemError("cannot open " + file_.Name);
    }
    FinishIfEmpty();
}

void Base64FileStream::Check(const struct stat& info) const {
    if (!S_ISREG(info.st_mode))
        throw LocalChange("[" + file_.Name + "] is no longer a regular file");
    if (!(FileIdentity::Of(info) == file_.Listed)) {
        throw LocalChange("[" + file_.Name + "] was replaced or changed since it was listed");
    }
}

// The file is opened at its first read and closed at the end of its reading, its buffer freed
// once encoded, so that a batch of many files holds one open file and one buffer at a time.
void Base64FileStream::Open() {
    fd_ = FileDescriptor(::openat(folderFd_, file_.Name.c_str(),
                                  O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!fd_.Valid()) {
        if (errno == ENOENT)
            throw LocalChange("[" + file_.Name + "] is gone since it was listed", errno);
        if (errno == ELOOP)
            throw LocalChange("[" + file_.Name + "] is no longer a regular file", errno);
        throw SystemError("cannot open " + file_.Name);
    }
    struct stat info {};
    if (::fstat(fd_.Get(), &info) != 0) throw SystemError("cannot read " + file_.Name);
    Check(info);
    left_ = file_.Listed.Size;
    input_.resize(static_cast<std::size_t>(std::min<std::uintmax_t>(kPieceSize, left_)));
    digest_ = std::make_unique<DigestBuilder>();
}

// The end of the file's reading: what it is now and what was read, for the delete after the send.
void Base64FileStream::Finish() {
    struct stat info {};
    if (::fstat(fd_.Get(), &info) != 0) throw SystemError("cannot read " + file_.Name);
    file_.Sent = FileIdentity::Of(info);
    file_.SentDigest = digest_->Finish();
    fd_ = FileDescriptor();
    digest_.reset();
}

// libcurl never asks a part of length 0 for its content, so an empty file is read, so to speak,
// when its stream is made, through the same checks as any other.
void Base64FileStream::FinishIfEmpty() {
    if (file_.Listed.Size != 0) return;
    Open();
    end_ = true;
    Finish();
}

void Base64FileStream::Close() {
    fd_ = FileDescriptor();
    digest_.reset();
    std::vector<unsigned char>().swap(input_);
    inputPos_ = inputEnd_ = 0;
}

// Up to one piece, never past the listed size: what goes out is what was listed.
std::size_t Base64FileStream::ReadPiece() {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uintmax_t>(input_.size(), left_));
    std::size_t filled = 0;
    while (filled < want) {
        ssize_t n = ::read(fd_.Get(), input_.data() + filled, want - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw SystemError("cannot read " + file_.Name);
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    left_ -= filled;
    if (filled < want || left_ == 0) end_ = true;
    return filled;
}

// The next piece of the file into the input buffer; false at the end, the buffer freed.
bool Base64FileStream::Refill() {
    if (end_) {
        Close();
        return false;
    }
    if (!fd_.Valid()) Open();
    inputPos_ = 0;
    inputEnd_ = ReadPiece();
    digest_->Add(input_.data(), inputEnd_);
    if (end_) Finish();
    return inputEnd_ > 0 || Refill();
}

std::size_t Base64FileStream::Spill(char* out, std::size_t size) {
    const std::size_t n = std::min(size, spillEnd_ - spillPos_);
    std::memcpy(out, spill_.data() + spillPos_, n);
    spillPos_ += n;
    return n;
}

std::size_t Base64FileStream::Read(char* out, std::size_t size) {
    std::size_t done = Spill(out, size);
    while (done < size) {
        if (inputPos_ == inputEnd_ && !Refill()) break;
        const std::size_t take = std::min(inputEnd_ - inputPos_, encoder_.InputFor(size - done));
        if (take > 0) {
            done += encoder_.Encode(input_.data() + inputPos_, take, out + done);
            inputPos_ += take;
            continue;
        }
        // Too little room for the next group: it waits, encoded, for the rest of this buffer and
        // the next.
        const std::size_t group = std::min<std::size_t>(3, inputEnd_ - inputPos_);
        spillEnd_ = encoder_.Encode(input_.data() + inputPos_, group, spill_.data());
        spillPos_ = 0;
        inputPos_ += group;
        done += Spill(out + done, size - done);
    }
    if (end_ && inputPos_ == inputEnd_) Close();
    return done;
}

void Base64FileStream::Rewind() {
    Close();
    file_.Sent.reset();
    file_.SentDigest.reset();
    encoder_.Reset();
    spillPos_ = spillEnd_ = 0;
    end_ = false;
    FinishIfEmpty();
}

}  // namespace quorvel
