#pragma once

#include <string>

namespace quorvel {

// The event log text of the exception being handled: "[" number "] " description. Call it only
// inside a catch block. Error carries its own number; a system_error its error code; anything
// else counts as number 0 with whatever description it has.
std::string TrappedErrorText();

}  // namespace quorvel
