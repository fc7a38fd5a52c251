#include "base/ContentDigest.h"

#include <unistd.h>
#include <xxhash.h>
#if defined(__x86_64__)
#include <xxh_x86dispatch.h>  // the library's own choice of SSE2, AVX2 or AVX-512 at run time
#endif

#include <algorithm>
#include <cerrno>
#include <new>
#include <vector>

namespace quorvel {

namespace {
XXH3_state_t* State(void* state) { return static_cast<XXH3_state_t*>(state); }
}  // namespace

DigestBuilder::DigestBuilder() : state_(XXH3_createState()) {
    if (state_ == nullptr) throw std::bad_alloc();
    Reset();
}

DigestBuilder::~DigestBuilder() { XXH3_freeState(State(state_)); }

void DigestBuilder::Reset() { XXH3_128bits_reset(State(state_)); }

// Every byte sent goes through here: with the widest vectors the processor has, the digest costs
// a fraction of the base64 encoding beside it.
void DigestBuilder::Add(const void* data, std::size_t size) {
#if defined(__x86_64__)
    XXH3_128bits_update_dispatch(State(state_), data, size);
#else
    XXH3_128bits_update(State(state_), data, size);
#endif
}

ContentDigest DigestBuilder::Finish() const {
    const XXH128_hash_t hash = XXH3_128bits_digest(State(state_));
    return {hash.low64, hash.high64};
}

std::optional<ContentDigest> DigestOfFile(int fd, std::uint64_t size) {
    DigestBuilder digest;
    std::vector<unsigned char> buffer(1 << 20);
    std::uint64_t offset = 0;
    while (offset < size) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - offset));
        const ssize_t n = ::pread(fd, buffer.data(), want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        digest.Add(buffer.data(), static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    return digest.Finish();
}

}  // namespace quorvel
