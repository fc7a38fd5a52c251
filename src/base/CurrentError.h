#pragma once

#include "base/Error.h"

namespace quorvel {

// The exception being handled, as an Error: an Error as it is, a system_error with its error code,
// bad_alloc as ENOMEM, any other exception as number 0 with whatever description it has. The one
// place where the service turns a C++ exception into a number and a description; call it only
// inside a catch block.
Error CurrentError();

}  // namespace quorvel
