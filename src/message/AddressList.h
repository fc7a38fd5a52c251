#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// One mailbox: an address and the display name that goes with it ("" when none).
struct MailAddress {
    std::string Name;
    std::string Address;
};

// The mailboxes of a list separated by commas or semicolons, each written as `addr` or
// `Name <addr>` (the name may be in double quotes, and may then hold commas). Blank elements are
// skipped. Throws Error(EINVAL) naming the element when an element holds a control character or
// is not a plain address (local@domain in ASCII), or when the list has no element at all.
std::vector<MailAddress> ParseAddressList(std::string_view text);

// Exactly one mailbox, as ParseAddressList reads it; a list of several is refused the same way.
MailAddress ParseMailbox(std::string_view text);

// The mailbox as it stands in a header: addr, Name <addr>, "Name" <addr> when the name needs
// quoting, or RFC 2047 encoded words and <addr> when it is not ASCII.
std::string MailboxHeaderText(const MailAddress& mailbox);

}  // namespace quorvel
