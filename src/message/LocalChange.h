#pragma once

#include <string>

#include "base/Error.h"

namespace quorvel {

// A send stopped by a cause in the mail folder, not at the server: a file of the batch vanished,
// is no longer a regular file, or is another file or other content than the one listed. Nothing
// of the batch is at fault; it stays where it is for a later cycle.
class LocalChange : public Error {
public:
    // `description` names the file and the reason: "[name] reason".
    explicit LocalChange(const std::string& description, int number = 0)
        : Error(number, description) {}
};

}  // namespace quorvel
