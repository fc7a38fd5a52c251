#include "base/AppFolder.h"

#include "base/Error.h"

namespace quorvel {

std::filesystem::path AppFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) throw Error(ec.value(), "cannot resolve the executable's path: " + ec.message());
    return exe.parent_path();
}

}  // namespace quorvel
