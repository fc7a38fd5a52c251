#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// True when `name` may follow EHLO: a domain (letters, digits and hyphens in dot-separated labels
// of 1 to 63 characters, no label beginning or ending with a hyphen) or an address literal
// ("[192.0.2.1]", "[IPv6:2001:db8::1]").
bool IsHeloName(std::string_view name);

// The complaint about an [SMTP] Helo value that IsHeloName refuses; it names the key and the value.
std::string HeloValueError(const std::string& value);

// The name this machine greets with when [SMTP] Helo is empty: its fully qualified name as the
// resolver gives it, else its host name, else "localhost".
std::string DefaultHeloName();

}  // namespace quorvel
