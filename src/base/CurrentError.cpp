#include "base/CurrentError.h"

#include <cerrno>
#include <exception>
#include <new>
#include <system_error>

namespace quorvel {

Error CurrentError() {
    try {
        throw;
    } catch (const Error& e) {
        return e;
    } catch (const std::system_error& e) {
        return Error(e.code().value(), e.what());
    } catch (const std::bad_alloc&) {
        return Error(ENOMEM, "out of memory");
    } catch (const std::exception& e) {
        return Error(0, e.what());
    } catch (...) {
        return Error(0, "unknown error");
    }
}

}  // namespace quorvel
