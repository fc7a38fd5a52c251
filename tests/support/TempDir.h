#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::testing {

// A fresh folder under `base`, removed with everything in it at the end.
class TempDir {
public:
    explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
        std::string pattern = (base / "quorvel-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes the bytes of `content` to `path`, creating the parent folders.
inline void WriteFile(const std::filesystem::path& path, std::string_view content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The bytes of a file, or "" when it does not exist.
inline std::string ReadFile(const std::filesystem::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

// The texts of a mail.log without their time stamps, one per complete line.
inline std::vector<std::string> LogTexts(const std::filesystem::path& mailLog) {
    std::vector<std::string> texts;
    const std::string content = ReadFile(mailLog);
    for (std::size_t start = 0, end; (end = content.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        const std::string line = content.substr(start, end - start);
        texts.push_back(line.substr(line.find(" - ") + 3));
    }
    return texts;
}

// True unless both paths exist on different file systems.
inline bool SameFileSystem(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0 ||
           first.st_dev == second.st_dev;
}

}  // namespace quorvel::testing
