#include "config/HeloName.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>
#include <memory>

#include "base/Utf8Text.h"

namespace quorvel {
namespace {

constexpr std::size_t kLabelLimit = 63;
constexpr std::size_t kDomainLimit = 253;

bool IsLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsLabel(std::string_view label) {
    if (label.empty() || label.size() > kLabelLimit || !IsLetterOrDigit(label.front()) ||
        !IsLetterOrDigit(label.back())) {
        return false;
    }
    for (char c : label) {
        if (!IsLetterOrDigit(c) && c != '-') return false;
    }
    return true;
}

bool IsDomain(std::string_view name) {
    if (name.size() > kDomainLimit) return false;
    for (std::size_t start = 0;;) {
        const std::size_t dot = name.find('.', start);
        if (!IsLabel(name.substr(start, dot - start))) return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

bool IsAddressLiteral(std::string_view name) {
    if (name.size() < 3 || name.front() != '[' || name.back() != ']') return false;
    std::string inside(name.substr(1, name.size() - 2));
    unsigned char address[sizeof(in6_addr)];
    if (inside.starts_with("IPv6:")) return ::inet_pton(AF_INET6, inside.c_str() + 5, address) == 1;
    return ::inet_pton(AF_INET, inside.c_str(), address) == 1;
}

struct AddrInfoFree {
    void operator()(addrinfo* a) const { ::freeaddrinfo(a); }
};

}  // namespace

bool IsHeloName(std::string_view name) { return IsDomain(name) || IsAddressLiteral(name); }

std::string HeloValueError(const std::string& value) {
    return "[SMTP] Helo is not a domain or an address literal: \"" + CleanLogText(value) + "\"";
}

std::string DefaultHeloName() {
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !IsHeloName(host)) return "localhost";
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0) return host;
    const std::unique_ptr<addrinfo, AddrInfoFree> owned(found);
    const char* canonical = found->ai_canonname;
    return canonical != nullptr && IsDomain(canonical) ? canonical : host;
}

}  // namespace quorvel
