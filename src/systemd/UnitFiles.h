#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvel {

// The unit that runs `executable` as a notify-type service, hardened, restarted after a failure
// unless it stopped on bad settings (status 78), started with the multi-user target once the
// network is up; what it creates is not readable by others (UMask=0027).
std::string UnitFileText(std::string_view description, const std::filesystem::path& executable);

// True when the drop-in `dropIn` sets the environment variable `key`.
bool HasEnvironmentSetting(std::string_view dropIn, std::string_view key);

// The drop-in `dropIn` (possibly empty) with the environment variable `key` set to `value`:
// an earlier setting of the same key is replaced, the others are kept.
std::string WithEnvironmentSetting(std::string_view dropIn, std::string_view key,
                                   std::string_view value);

}  // namespace quorvel
