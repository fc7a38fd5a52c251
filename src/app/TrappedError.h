#pragma once

#include <string>

#include "base/CurrentError.h"

namespace quorvel {

// The event log text of the exception being handled: "[" number "] " description. Call it only
// inside a catch block.
inline std::string TrappedErrorText() {
    const Error error = CurrentError();
    return ErrorEntryText(error.Number(), error.what());
}

}  // namespace quorvel
