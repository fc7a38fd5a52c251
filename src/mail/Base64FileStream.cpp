#include "mail/Base64FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/Error.h"

namespace quorvel {

namespace {

constexpr std::size_t kLineLength = 76;
// A whole number of 3-byte groups, so that only the last piece of a file ends in padding.
constexpr std::size_t kPieceSize = 3 * 64 * 1024;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void PutChar(char c, std::size_t& lineLength, std::string& out) {
    if (lineLength == kLineLength) {
        out += "\r\n";
        lineLength = 0;
    }
    out += c;
    ++lineLength;
}

}  // namespace

std::uint64_t Base64LinesSize(std::uint64_t bytes) {
    const std::uint64_t characters = (bytes + 2) / 3 * 4;
    const std::uint64_t lines = (characters + kLineLength - 1) / kLineLength;
    return characters + (lines > 0 ? 2 * (lines - 1) : 0);
}

void AppendBase64Lines(const unsigned char* data, std::size_t size, std::size_t& lineLength, std::string& out) {
    out.reserve(out.size() + size / 3 * 4 + size / 57 * 2 + 8);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned group = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        PutChar(kAlphabet[(group >> 18) & 63], lineLength, out);
        PutChar(kAlphabet[(group >> 12) & 63], lineLength, out);
        PutChar(kAlphabet[(group >> 6) & 63], lineLength, out);
        PutChar(kAlphabet[group & 63], lineLength, out);
    }
    if (i == size) return;
    const unsigned group = (data[i] << 16) | (i + 1 < size ? data[i + 1] << 8 : 0);
    PutChar(kAlphabet[(group >> 18) & 63], lineLength, out);
    PutChar(kAlphabet[(group >> 12) & 63], lineLength, out);
    PutChar(i + 1 < size ? kAlphabet[(group >> 6) & 63] : '=', lineLength, out);
    PutChar('=', lineLength, out);
}

Base64FileStream::Base64FileStream(const std::filesystem::path& path) : path_(path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || ::access(path.c_str(), R_OK) != 0) {
        throw SystemError("cannot open " + path.string());
    }
    if (!S_ISREG(info.st_mode)) throw Error(EINVAL, "not a regular file: " + path.string());
}

// The file is opened at its first read and closed, its buffers freed, at its end, so that a
// batch of many files holds one open file and one set of buffers at a time.
void Base64FileStream::Open() {
    file_ = FileDescriptor(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file_.Valid()) throw SystemError("cannot open " + path_.string());
    input_.resize(kPieceSize);
}

void Base64FileStream::Close() {
    file_ = FileDescriptor();
    std::vector<unsigned char>().swap(input_);
}

bool Base64FileStream::Refill() {
    if (end_) {
        std::string().swap(encoded_);
        encodedPos_ = 0;
        return false;
    }
    if (!file_.Valid()) Open();
    std::size_t filled = 0;
    while (filled < input_.size()) {
        ssize_t n = ::read(file_.Get(), input_.data() + filled, input_.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw SystemError("cannot read " + path_.string());
        if (n == 0) {
            end_ = true;
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    encoded_.clear();
    encodedPos_ = 0;
    AppendBase64Lines(input_.data(), filled, lineLength_, encoded_);
    if (end_) Close();
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
    encoded_.clear();
    encodedPos_ = 0;
    lineLength_ = 0;
    end_ = false;
}

}  // namespace quorvel
