#include <gtest/gtest.h>

#include <string>

#include "mail/Base64FileStream.h"
#include "mail/LocalChange.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

std::string Encode(const std::string& data) {
    std::string out;
    std::size_t lineLength = 0;
    AppendBase64Lines(reinterpret_cast<const unsigned char*>(data.data()), data.size(), lineLength, out);
    return out;
}

TEST(Base64, PaddingAndLines) {
    EXPECT_EQ(Encode("") + "|" + Encode("f") + "|" + Encode("fo") + "|" + Encode("foo") + "|" + Encode("\xff\xfe\xfd"),
              "|Zg==|Zm8=|Zm9v|//79");
    std::string line;
    for (int i = 0; i < 19; ++i) line += "YWFh";
    EXPECT_EQ(Encode(std::string(114, 'a')), line + "\r\n" + line) << "76 characters a line, no line end after the last";
    for (std::size_t n = 0; n < 300; ++n) EXPECT_EQ(Base64LinesSize(n), Encode(std::string(n, 'a')).size()) << n;
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// Streamed in small reads, each file gives one encoding; a batch holds one file open at a time.
TEST(Base64, FilesStreamInSmallReadsOneOpenAtATime) {
    testing::TempDir dir;
    std::string data;
    for (int i = 0; i < 500000; ++i) data += static_cast<char>(i * 7 % 251);
    for (int i = 0; i < 300; ++i) testing::WriteFile(dir / std::to_string(i), i == 0 ? data : i % 2 ? "" : "data");
    std::optional<Batch> batch = Batch::OpenPath(dir.Path());
    for (int i = 0; i < 301; ++i) batch->Add(i < 300 ? std::to_string(i) : "gone");
    const std::size_t before = OpenDescriptors();
    std::vector<Base64FileStream> streams;
    for (int i = 0; i < 300; ++i) streams.emplace_back(batch->Fd(), batch->Files()[i]);
    char piece[1000];
    std::string streamed;
    for (auto& stream : streams) {
        for (std::size_t n; (n = stream.Read(piece, sizeof piece)) > 0;) {
            if (&stream == &streams[0]) streamed.append(piece, n);
            EXPECT_LE(OpenDescriptors(), before + 1);
        }
    }
    EXPECT_EQ(streamed, Encode(data));
    EXPECT_EQ(OpenDescriptors(), before);
    streams[0].Rewind();
    EXPECT_EQ(streams[0].Read(piece, 4), 4u);
    EXPECT_EQ(std::string(piece, 4), streamed.substr(0, 4));
    testing::WriteFile(dir / "gone", "x");
    batch->Files()[300].Listed = *batch->Look("gone");
    Base64FileStream gone(batch->Fd(), batch->Files()[300]);
    std::filesystem::remove(dir / "gone");
    EXPECT_THROW(gone.Read(piece, sizeof piece), LocalChange);
}

}  // namespace
}  // namespace quorvel
