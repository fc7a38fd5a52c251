#pragma once

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace quorvel {

// An error that the system lets pass up to a procedure that traps it. It carries a number and a
// description; a trap reports it as "[" number "] " description. File operations use errno as the
// number and name the path and the system's reason in the description.
class Error : public std::runtime_error {
public:
    Error(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}

    int Number() const { return number_; }

private:
    int number_;
};

// An Error for a failed system call: errno as the number, "what: reason" as the description.
inline Error SystemError(const std::string& what, int err = errno) {
    return Error(err, what + ": " + std::strerror(err));
}

// "[" number "] " description, the form in which trapped errors reach the event log.
inline std::string ErrorEntryText(int number, const std::string& description) {
    return "[" + std::to_string(number) + "] " + description;
}

}  // namespace quorvel
