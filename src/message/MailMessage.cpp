#include "message/MailMessage.h"

#include <cstdio>
#include <ctime>
#include <random>

#include "base/Utf8Text.h"

namespace quorvel {

std::string MessageBody(const std::vector<std::string>& Files, std::string_view signature) {
    std::string body = "Вложения (" + std::to_string(Files.size()) + "): \r\n";
    for (const auto& name : Files) body += CleanHeaderText(name) + "\r\n";
    body += "---\r\n";
    body += signature;
    return body;
}

std::string DateHeaderValue(std::chrono::system_clock::time_point when) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    const long offset = tm.tm_gmtoff / 60;
    const long absolute = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDays[tm.tm_wday], tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour,
                  tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+', absolute / 60, absolute % 60);
    return text;
}

std::string NewMessageId(std::string_view fromAddress, std::chrono::system_clock::time_point when) {
    std::random_device random;
    char unique[40];
    std::snprintf(unique, sizeof unique, "%08x%08x.%lld", random(), random(),
                  static_cast<long long>(std::chrono::system_clock::to_time_t(when)));
    const auto at = fromAddress.find('@');
    const std::string domain(at == std::string_view::npos ? "localhost"
                                                          : fromAddress.substr(at + 1));
    return "<" + std::string(unique) + "@" + domain + ">";
}

}  // namespace quorvel
