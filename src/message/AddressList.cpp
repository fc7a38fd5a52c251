#include "message/AddressList.h"

#include <cerrno>

#include "base/Error.h"
#include "base/TextRules.h"
#include "message/HeaderEncoding.h"

namespace quorvel {
namespace {

// A plain display name and its address share a line of "From: " or "To: " up to this many
// characters together, so that the line with its comma stays within 78.
constexpr std::size_t kShownNameLimit = 70;

[[noreturn]] void Refuse(std::string_view element) {
    throw Error(EINVAL, "invalid e-mail address \"" + CleanLogText(element) + "\"");
}

bool IsAtext(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+/=?^_`{|}~-").find(c) != std::string_view::npos;
}

bool IsLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Dot-separated non-empty runs of characters that `allowed` accepts.
template <typename Allowed>
bool IsDottedRuns(std::string_view text, Allowed allowed) {
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '.' ? text[i + 1] == '.' : !allowed(text[i])) return false;
    }
    return true;
}

bool IsPlainAddress(std::string_view address) {
    const auto at = address.find('@');
    if (at == std::string_view::npos || address.size() > 254) return false;
    const auto local = address.substr(0, at), domain = address.substr(at + 1);
    if (local.size() > 64 || !IsDottedRuns(local, IsAtext) || !IsDottedRuns(domain, IsLabelChar))
        return false;
    for (std::size_t start = 0; start <= domain.size();) {
        auto end = std::min(domain.find('.', start), domain.size());
        auto label = domain.substr(start, end - start);
        if (label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        start = end + 1;
    }
    return true;
}

// The display name without its quotes and quoting backslashes.
std::string Unquote(std::string_view name) {
    if (name.size() < 2 || name.front() != '"' || name.back() != '"') return std::string(name);
    std::string out;
    for (std::size_t i = 1; i + 1 < name.size(); ++i) {
        if (name[i] == '\\' && i + 2 < name.size()) ++i;
        out += name[i];
    }
    return out;
}

MailAddress ParseElement(std::string_view element) {
    for (unsigned char c : element) {
        if (c < 0x20 || c == 0x7F) Refuse(element);
    }
    MailAddress mailbox;
    const auto open = element.rfind('<');
    if (open == std::string_view::npos) {
        mailbox.Address = element;
    } else {
        if (element.back() != '>') Refuse(element);
        mailbox.Address = element.substr(open + 1, element.size() - open - 2);
        mailbox.Name = CleanHeaderText(Unquote(TrimBlanks(element.substr(0, open))));
        if (mailbox.Name.find_first_of("<>") != std::string::npos) Refuse(element);
    }
    if (!IsPlainAddress(mailbox.Address)) Refuse(element);
    return mailbox;
}

// Splits at commas and semicolons that stand outside double quotes.
std::vector<std::string_view> SplitList(std::string_view text) {
    std::vector<std::string_view> elements;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] == '\\' && quoted) {
            ++i;
        } else if (i < text.size() && text[i] == '"') {
            quoted = !quoted;
        } else if (i == text.size() || (!quoted && (text[i] == ',' || text[i] == ';'))) {
            elements.push_back(text.substr(start, std::min(i, text.size()) - start));
            start = i + 1;
        }
    }
    return elements;
}

// Blanks around a name are kept only inside quotes.
bool NeedsQuotes(std::string_view name) {
    if (name.front() == ' ' || name.back() == ' ') return true;
    for (char c : name) {
        if (!IsAtext(c) && c != ' ') return true;
    }
    return false;
}

std::string Quote(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::vector<MailAddress> ParseAddressList(std::string_view text) {
    std::vector<MailAddress> list;
    for (auto element : SplitList(text)) {
        element = TrimBlanks(element);
        if (!element.empty()) list.push_back(ParseElement(element));
    }
    if (list.empty()) Refuse(text);
    return list;
}

MailAddress ParseMailbox(std::string_view text) {
    auto list = ParseAddressList(text);
    if (list.size() != 1) Refuse(text);
    return list.front();
}

std::string MailboxHeaderText(const MailAddress& mailbox) {
    if (mailbox.Name.empty()) return mailbox.Address;
    // Encoded words fill their lines; the address goes on a folded line of its own, so that no line
    // of "From: " or "To: " grows past its limit. A plain name too long for its line is encoded
    // too.
    const std::string name = NeedsQuotes(mailbox.Name) ? Quote(mailbox.Name) : mailbox.Name;
    const std::string address = "<" + mailbox.Address + ">";
    if (!IsPlainHeaderText(mailbox.Name) || name.size() > kShownNameLimit)
        return EncodeWords(mailbox.Name, 6) + "\r\n " + address;
    return name + (name.size() + address.size() > kShownNameLimit ? "\r\n " : " ") + address;
}

}  // namespace quorvel
