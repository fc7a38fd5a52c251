#include "delivery/DeferredResult.h"

#include "log/MailLog.h"

namespace quorvel {

namespace {

constexpr std::string_view kDeferredPrefix = "Отправка отложена до ";

}  // namespace

std::string DeferredResultText(std::chrono::system_clock::time_point until,
                               const std::string& failure) {
    // "dd.mm.yyyy hh:mm:ss": the time of day is what a reader of the log needs.
    return std::string(kDeferredPrefix) + LocalTimestamp(until).substr(11) + ": " + failure;
}

bool IsDeferredResult(std::string_view result) { return result.starts_with(kDeferredPrefix); }

}  // namespace quorvel
