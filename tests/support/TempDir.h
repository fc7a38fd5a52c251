#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::testing {

// A fresh folder under `base`, removed with everything in it at the end.
class TempDir {
public:
    explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path());
    ~TempDir() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes the bytes of `content` to `path`, creating the parent folders.
void WriteFile(const std::filesystem::path& path, std::string_view content);
// The bytes of a file, or "" when it does not exist.
std::string ReadFile(const std::filesystem::path& path);
// The texts of a mail.log without their time stamps, one per complete line.
std::vector<std::string> LogTexts(const std::filesystem::path& mailLog);
// True unless both paths exist on different file systems.
bool SameFileSystem(const std::filesystem::path& a, const std::filesystem::path& b);

// Switches LC_ALL to `name` for the scope; Active() is false when the machine lacks the locale.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name);
    ~ScopedLocale();
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    bool Active() const { return active_; }
private:
    std::string previous_;
    bool active_;
};

}  // namespace quorvel::testing
