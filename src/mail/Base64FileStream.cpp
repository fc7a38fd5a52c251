#include "mail/Base64FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/Error.h"
#include "mail/LocalChange.h"

namespace quorvel {

namespace {

// A whole number of 3-byte groups, so that only the last piece of a file ends in padding.
constexpr std::size_t kPieceSize = 3 * 64 * 1024;

}  // namespace

Base64FileStream::Base64FileStream(int folderFd, BatchFile& file) : folderFd_(folderFd), file_(file) {
    struct stat info {};
    if (::fstatat(folderFd_, file_.Name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) throw LocalChange("[" + file_.Name + "] is gone since it was listed", errno);
        throw SystemError("cannot open " + file_.Name);
    }
    Check(info);
    if (::faccessat(folderFd_, file_.Name.c_str(), R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
        throw SystemError("cannot open " + file_.Name);
    }
}

void Base64FileStream::Check(const struct stat& info) const {
    if (!S_ISREG(info.st_mode)) throw LocalChange("[" + file_.Name + "] is no longer a regular file");
    if (!(FileIdentity::Of(info) == file_.Listed)) {
        throw LocalChange("[" + file_.Name + "] was replaced or changed since it was listed");
    }
}

// The file is opened at its first read and closed, its buffers freed, at its end, so that a
// batch of many files holds one open file and one set of buffers at a time.
void Base64FileStream::Open() {
    fd_ = FileDescriptor(
        ::openat(folderFd_, file_.Name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!fd_.Valid()) {
        if (errno == ENOENT) throw LocalChange("[" + file_.Name + "] is gone since it was listed", errno);
        if (errno == ELOOP) throw LocalChange("[" + file_.Name + "] is no longer a regular file", errno);
        throw SystemError("cannot open " + file_.Name);
    }
    struct stat info {};
    if (::fstat(fd_.Get(), &info) != 0) throw SystemError("cannot read " + file_.Name);
    Check(info);
    left_ = file_.Listed.Size;
    input_.resize(kPieceSize);
}

void Base64FileStream::Close() {
    fd_ = FileDescriptor();
    std::vector<unsigned char>().swap(input_);
}

// Up to one piece, never past the listed size: what goes out is what was listed.
std::size_t Base64FileStream::ReadPiece() {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uintmax_t>(input_.size(), left_));
    std::size_t filled = 0;
    while (filled < want) {
        ssize_t n = ::read(fd_.Get(), input_.data() + filled, want - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw SystemError("cannot read " + file_.Name);
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    left_ -= filled;
    digest_->Add(input_.data(), filled);
    if (filled < want || left_ == 0) end_ = true;
    return filled;
}

bool Base64FileStream::Refill() {
    if (end_) {
        std::string().swap(encoded_);
        encodedPos_ = 0;
        return false;
    }
    if (!fd_.Valid()) Open();
    const std::size_t filled = ReadPiece();
    encoded_.clear();
    encodedPos_ = 0;
    AppendBase64Lines(input_.data(), filled, lineLength_, encoded_);
    if (end_) {
        struct stat info {};
        if (::fstat(fd_.Get(), &info) != 0) throw SystemError("cannot read " + file_.Name);
        file_.Sent = FileIdentity::Of(info);
        file_.SentDigest = digest_->Finish();
        Close();
    }
    return !encoded_.empty();
}

std::size_t Base64FileStream::Read(char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        if (encodedPos_ == encoded_.size() && !Refill()) break;
        std::size_t n = std::min(size - done, encoded_.size() - encodedPos_);
        std::memcpy(out + done, encoded_.data() + encodedPos_, n);
        encodedPos_ += n;
        done += n;
    }
    return done;
}

void Base64FileStream::Rewind() {
    Close();
    file_.Sent.reset();
    file_.SentDigest.reset();
    digest_->Reset();
    encoded_.clear();
    encodedPos_ = 0;
    lineLength_ = 0;
    end_ = false;
}

}  // namespace quorvel
