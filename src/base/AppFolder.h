#pragma once

#include <filesystem>

namespace quorvel {

// The folder of the running executable (resolved through /proc/self/exe): options.ini and
// mail.log live there.
std::filesystem::path AppFolder();

}  // namespace quorvel
