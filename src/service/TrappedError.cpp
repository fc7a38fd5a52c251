#include "service/TrappedError.h"

#include <cerrno>
#include <exception>
#include <new>
#include <system_error>

#include "base/Error.h"

namespace quorvel {

std::string TrappedErrorText() {
    try {
        throw;
    } catch (const Error& e) {
        return ErrorEntryText(e.Number(), e.what());
    } catch (const std::system_error& e) {
        return ErrorEntryText(e.code().value(), e.what());
    } catch (const std::bad_alloc&) {
        return ErrorEntryText(ENOMEM, "out of memory");
    } catch (const std::exception& e) {
        return ErrorEntryText(0, e.what());
    } catch (...) {
        return ErrorEntryText(0, "unknown error");
    }
}

}  // namespace quorvel
