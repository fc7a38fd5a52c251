#include "support/TempDir.h"

#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quorvel::testing {

TempDir::TempDir(const std::filesystem::path& base) {
    std::string pattern = (base / "quorvel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

void WriteFile(const std::filesystem::path& path, std::string_view content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

std::vector<std::string> LogTexts(const std::filesystem::path& mailLog) {
    std::vector<std::string> texts;
    const std::string content = ReadFile(mailLog);
    for (std::size_t start = 0, end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = content.substr(start, end - start);
        texts.push_back(line.substr(line.find(" - ") + 3));
    }
    return texts;
}

bool SameFileSystem(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0 || first.st_dev == second.st_dev;
}

ScopedLocale::ScopedLocale(const char* name)
    : previous_(std::setlocale(LC_ALL, nullptr)), active_(std::setlocale(LC_ALL, name) != nullptr) {}

ScopedLocale::~ScopedLocale() { std::setlocale(LC_ALL, previous_.c_str()); }

}  // namespace quorvel::testing
