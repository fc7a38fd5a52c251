#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace quorvel {

// The result of a cycle whose send failed for a passing reason and is put off until `until`:
// "Отправка отложена до hh:mm:ss: " (local time) and the failure text. It goes to mail.log like
// every result, and to the journal as an information entry, since nothing is lost yet.
std::string DeferredResultText(std::chrono::system_clock::time_point until,
                               const std::string& failure);

bool IsDeferredResult(std::string_view result);

}  // namespace quorvel
