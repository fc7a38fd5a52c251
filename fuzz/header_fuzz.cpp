// The header encoders over any text: the subject (UnstructuredHeaderValue), the attachment
// names (NameParameter, FileNameParameter) and EncodeWords. Input: a byte for the characters
// already on the first line, then the text. Each output decodes back to the cleaned text, holds
// no CR or LF but in a CR LF SP fold, and keeps its lines and words to the promised limits.
#include "FuzzCheck.h"
#include "message/HeaderEncoding.h"

namespace {

std::string PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        fuzz::Check(i + 2 < text.size(), "cut percent escape", text);
        out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
        i += 2;
    }
    return out;
}

// filename="name", filename*=UTF-8''pct, or filename*N*= continuations of at most 60 characters.
std::string DecodeFileName(std::string_view parameter) {
    if (parameter.starts_with("filename=\""))
        return std::string(parameter.substr(10, parameter.size() - 11));
    if (parameter.starts_with("filename*=UTF-8''")) return PercentDecode(parameter.substr(17));
    std::string out;
    std::size_t number = 0;
    for (std::string_view line : fuzz::FoldedLines(parameter)) {
        const std::string head = (number ? " filename*" : "filename*") + std::to_string(number) +
                                 "*=" + (number ? "" : "UTF-8''");
        fuzz::Check(line.starts_with(head), "continuation out of order", parameter);
        line.remove_prefix(head.size());
        if (line.ends_with(";")) line.remove_suffix(1);
        fuzz::Check(line.size() <= 60, "continuation over 60 characters", parameter);
        const std::string piece = PercentDecode(line);
        fuzz::Check(fuzz::IsUtf8(piece), "continuation ends inside a character", parameter);
        out += piece;
        ++number;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t used = data[0] % 41;
    const std::string_view raw(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string clean = quorvel::CleanHeaderText(raw);
    fuzz::Check(fuzz::IsUtf8(clean), "cleaned text is not UTF-8", clean);
    for (std::size_t i = 0; i < clean.size(); ++i) {
        const auto c = static_cast<unsigned char>(clean[i]);
        const bool c1 = c == 0xC2 && static_cast<unsigned char>(clean[i + 1]) < 0xA0;
        fuzz::Check(c >= 0x20 && c != 0x7F && !c1, "control character left in cleaned text", clean);
    }

    const std::string subject = quorvel::UnstructuredHeaderValue(raw, used);
    if (subject != clean)
        fuzz::Check(fuzz::DecodeWords(subject, 76, used) == clean, "subject does not decode back",
                    subject);
    fuzz::Check(quorvel::EncodeWords(clean, used).empty() == clean.empty(), "no words for text");
    if (!clean.empty())
        fuzz::Check(fuzz::DecodeWords(quorvel::EncodeWords(clean, used), 76, used) == clean,
                    "words", clean);

    // In the header the parameters stand on a folded line of their own: " name=..." and "
    // filename...".
    const std::string name = quorvel::NameParameter(clean);
    fuzz::Check(name.starts_with("name=\"") && name.ends_with("\""), "name parameter is not quoted",
                name);
    const std::string quoted = name.substr(6, name.size() - 7);
    if (quoted != clean)
        fuzz::Check(fuzz::DecodeWords(" " + name, 76, 0) == clean, "name does not decode back",
                    name);
    fuzz::Check(DecodeFileName(quorvel::FileNameParameter(clean)) == clean,
                "file name does not decode back", clean);
    return 0;
}
