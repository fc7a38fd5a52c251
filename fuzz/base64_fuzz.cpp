// Base64Lines over any bytes, taken in pieces that fill buffers of any sizes as a send does: no
// piece passes its buffer while a group more would have, and the pieces join into one encoding of
// the whole: lines of exactly 76 characters (the last one up to 76) joined by CR LF, the length
// Base64LinesSize gives, the one-line Base64 of the same bytes once the breaks are out, decoding
// back to the bytes.
#include <algorithm>

#include "FuzzCheck.h"
#include "base/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t sizes = data[0] % 8 + 1;  // the next bytes give the buffer sizes, in turn
    if (size < 1 + sizes) return 0;
    const std::uint8_t* rooms = data + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1 + sizes), size - 1 - sizes);
    const auto* input = reinterpret_cast<const unsigned char*>(bytes.data());

    quorvel::Base64Lines lines;
    std::string encoded, buffer;
    for (std::size_t done = 0, turn = 0; done < bytes.size(); ++turn) {
        const std::size_t room =
            rooms[turn % sizes] % 4 == 0 ? rooms[turn % sizes] * 64 : rooms[turn % sizes] % 90;
        const std::size_t take = std::min(bytes.size() - done, lines.InputFor(room));
        fuzz::Check(take % 3 == 0 || done + take == bytes.size(),
                    "a piece before the last splits a group", bytes);
        const std::size_t more = std::min(bytes.size() - done, take + 3);
        if (more > take) {
            quorvel::Base64Lines probe = lines;
            buffer.assign(room + 8, '\0');
            fuzz::Check(probe.Encode(input + done, more, buffer.data()) > room,
                        "a group more would have fit", bytes);
        }
        buffer.assign(room, '\0');
        const std::size_t written = lines.Encode(input + done, take, buffer.data());
        fuzz::Check(written <= room && (take == 0) == (written == 0),
                    "the piece does not fit its buffer", bytes);
        encoded.append(buffer, 0, written);
        done += take;
        if (take == 0) {  // a buffer too small for the next group: the stream spills it to the next
            buffer.assign(8, '\0');
            const std::size_t group = std::min<std::size_t>(3, bytes.size() - done);
            encoded.append(buffer, 0, lines.Encode(input + done, group, buffer.data()));
            done += group;
        }
    }

    fuzz::Check(encoded.size() == quorvel::Base64LinesSize(bytes.size()),
                "length is not Base64LinesSize", bytes);
    std::string joined;
    for (std::size_t start = 0; start < encoded.size();) {
        const std::size_t end = std::min(encoded.find("\r\n", start), encoded.size());
        fuzz::Check(end - start == 76 || (end == encoded.size() && end > start && end - start < 76),
                    "a line is not 76 characters", encoded);
        joined.append(encoded, start, end - start);
        start = end + 2;
    }
    fuzz::Check(joined == quorvel::Base64(bytes), "the lines are not the one-line encoding", bytes);
    fuzz::Check(fuzz::Base64Decode(joined) == bytes, "does not decode to the bytes", bytes);
    fuzz::Check(joined.size() % 4 == 0, "not padded to whole groups", joined);
    return 0;
}
