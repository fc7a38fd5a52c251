#include <gtest/gtest.h>

#include <string>

#include "base/Error.h"
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
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("f"), "Zg==");
    EXPECT_EQ(Encode("fo"), "Zm8=");
    EXPECT_EQ(Encode("foo"), "Zm9v");
    EXPECT_EQ(Encode("\xff\xfe\xfd"), "//79");
    const std::string lines = Encode(std::string(114, 'a'));  // 152 characters: two full lines
    EXPECT_EQ(lines.size(), 152u + 2u);
    EXPECT_EQ(lines.substr(76, 2), "\r\n");
    EXPECT_EQ(lines.find("\r\n", 78), std::string::npos) << "no line end after the last line";
    for (std::size_t n = 0; n < 300; ++n) EXPECT_EQ(Base64LinesSize(n), Encode(std::string(n, 'a')).size()) << n;
}

TEST(Base64, AFileStreamsInSmallReadsAsOneEncoding) {
    testing::TempDir dir;
    std::string data;
    for (int i = 0; i < 500000; ++i) data += static_cast<char>(i * 7 % 251);
    testing::WriteFile(dir / "f.bin", data);
    std::optional<Batch> batch = Batch::OpenPath(dir.Path());
    batch->Add("f.bin");
    Base64FileStream stream(batch->Fd(), batch->Files()[0]);
    std::string streamed;
    char piece[1000];
    for (std::size_t n; (n = stream.Read(piece, sizeof piece)) > 0;) streamed.append(piece, n);
    EXPECT_EQ(streamed, Encode(data));
    stream.Rewind();
    EXPECT_EQ(stream.Read(piece, 4), 4u);
    EXPECT_EQ(std::string(piece, 4), streamed.substr(0, 4));
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

TEST(Base64, ABatchHoldsOneFileOpenAtATime) {
    testing::TempDir dir;
    std::vector<Base64FileStream> streams;
    for (int i = 0; i < 300; ++i) testing::WriteFile(dir / std::to_string(i), i % 2 ? "" : "data");
    std::optional<Batch> batch = Batch::OpenPath(dir.Path());
    for (int i = 0; i < 301; ++i) batch->Add(i < 300 ? std::to_string(i) : "gone");
    const std::size_t before = OpenDescriptors();
    for (int i = 0; i < 300; ++i) streams.emplace_back(batch->Fd(), batch->Files()[i]);
    char piece[64];
    for (auto& stream : streams) {
        while (stream.Read(piece, sizeof piece) > 0) EXPECT_LE(OpenDescriptors(), before + 1);
    }
    EXPECT_EQ(OpenDescriptors(), before);
    testing::WriteFile(dir / "gone", "x");
    batch->Files()[300].Listed = *batch->Look("gone");
    Base64FileStream gone(batch->Fd(), batch->Files()[300]);
    std::filesystem::remove(dir / "gone");
    EXPECT_THROW(gone.Read(piece, sizeof piece), LocalChange);
}

}  // namespace
}  // namespace quorvel
