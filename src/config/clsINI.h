#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Named values of one profile file (options.ini), read by the service's own rules: section and key
// names match without regard to case, blanks around names and values are
// dropped, a value in matching single or double quotes comes back without them, and a value is
// cut to 254 bytes of the file's text (never inside a character). A missing file, section or key
// reads as an empty string. Also: lines starting with ";" are comments, lines without "=" are
// skipped, CR LF, LF and CR all end a line, a UTF-8 byte-order mark is skipped, and the first
// occurrence of a section or of a key wins.
//
// Until Load, every read opens and parses the file afresh. Load takes the file's text once, and
// every later read comes from that snapshot until the next Load or FileName, so that one
// cycle sees one version of the settings even while the file is being edited.
class clsINI {
public:
    static constexpr std::size_t kValueLimit = 254;

    const std::filesystem::path& FileName() const { return fileName_; }
    void FileName(std::filesystem::path FName) {
        fileName_ = std::move(FName);
        snapshot_.reset();
    }

    // Reads the file once for the reads that follow (a missing file reads as empty). Throws Error
    // when it exists but cannot be read.
    void Load();
    // The file's text as the reads see it: the snapshot, or the file as it is now; empty when the
    // file is missing.
    std::optional<std::string> Text() const;

    std::string ReadINI(std::string_view KeyName, std::string_view Section) const;

private:
    std::filesystem::path fileName_;
    std::optional<std::optional<std::string>>
        snapshot_;  // set by Load: the text, or a missing file
};

}  // namespace quorvel
