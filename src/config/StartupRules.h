#pragma once

#include <filesystem>
#include <string>

#include "config/clsINI.h"

namespace quorvel {

// The rules that the start-up check applies after every required key was found: values that are
// given but unusable (a folder setting that overlaps another, an unknown security mode, a retry
// time out of range, ...). Returns "" when all hold, otherwise one message per broken rule, each
// followed by CR LF and naming the key and its value. A broken rule is a settings error: the
// service reports it to the journal and stops.
std::string CheckStartupRules(const clsINI& Ini, const std::filesystem::path& appFolder);

}  // namespace quorvel
