// clsINI::ReadINI over any options.ini, with any section and key name, in a UTF-8 or a CP1251
// locale. Input: locale byte, section NUL key NUL file contents. The value read never throws,
// is valid UTF-8, holds no line end, and keeps to 254 bytes of file text when the file is
// valid in its charset.
#include "FuzzCheck.h"
#include "base/TextCodec.h"
#include "config/clsINI.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    fuzz::UseLocale(data[0] & 1);
    const auto fields = fuzz::Fields(data + 1, size - 1, 3);
    const std::string &section = fields[0], &key = fields[1], &file = fields[2];
    const quorvel::TextCodec codec = quorvel::TextCodec::ForLocale();

    quorvel::clsINI ini;
    ini.FileName(fuzz::WriteOptions(file));
    const std::string value = ini.ReadINI(key, section);
    fuzz::Check(fuzz::IsUtf8(value), "value is not UTF-8", value);
    fuzz::Check(value.find_first_of("\r\n") == std::string::npos, "value holds a line end", value);
    if (codec.FromUtf8(codec.ToUtf8(file)) == file) {
        fuzz::Check(codec.FromUtf8(value).size() <= quorvel::clsINI::kValueLimit,
                    "value over 254 bytes", value);
    }
    return 0;
}
