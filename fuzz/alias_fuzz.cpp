// GetAddress over any options.ini and any folder name, in a UTF-8 or a CP1251 locale.
// Input: locale byte, folder NUL file contents. The lookup never throws; an address found is
// the text after "folder=" on a line of the file, up to the next "=", and holds no line end.
#include "FuzzCheck.h"
#include "base/TextCodec.h"
#include "config/GetAddress.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    fuzz::UseLocale(data[0] & 1);
    const auto fields = fuzz::Fields(data + 1, size - 1, 2);
    const std::string &folder = fields[0], &file = fields[1];

    quorvel::clsINI ini;
    ini.FileName(fuzz::WriteOptions(file));
    const std::string address = quorvel::GetAddress(folder, ini);
    if (address == folder) return 0;
    const std::string text = quorvel::TextCodec::ForLocale().ToUtf8(file);
    fuzz::Check(address.find_first_of("\r\n=") == std::string::npos,
                "address holds a line end or =", address);
    fuzz::Check(fuzz::IsUtf8(address), "address is not UTF-8", address);
    fuzz::Check(text.find(folder + "=" + address) != std::string::npos,
                "address is not in the file", address);
    return 0;
}
