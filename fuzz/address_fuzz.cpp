// ParseAddressList and ParseMailbox over any text. A list is either refused with EINVAL or
// every mailbox holds a plain ASCII address and a clean name; ParseMailbox agrees with the list;
// a mailbox written back as header text decodes, or parses, to the same mailbox.
#include <cerrno>

#include "FuzzCheck.h"
#include "base/Error.h"
#include "message/AddressList.h"
#include "message/HeaderEncoding.h"

namespace {

void CheckMailbox(const quorvel::MailAddress& mailbox) {
    const std::string& address = mailbox.Address;
    fuzz::Check(address.find('@') != std::string::npos && address.find('@') == address.rfind('@'),
                "not one @", address);
    for (unsigned char c : address)
        fuzz::Check(c > 0x20 && c < 0x7F && c != '<' && c != '>', "address char", address);
    fuzz::Check(quorvel::CleanHeaderText(mailbox.Name) == mailbox.Name, "name not clean",
                mailbox.Name);
    fuzz::Check(mailbox.Name.find_first_of("<>") == std::string::npos, "name holds <>",
                mailbox.Name);

    const std::string header = quorvel::MailboxHeaderText(mailbox);
    if (mailbox.Name.empty() || quorvel::IsPlainHeaderText(mailbox.Name)) {
        const quorvel::MailAddress back = quorvel::ParseMailbox(header);
        fuzz::Check(back.Name == mailbox.Name && back.Address == address,
                    "header text parses differently", header);
    } else {
        // The encoded words fill their lines after "From: " (6 characters); the address follows on
        // a folded line of its own.
        const std::string tail = "\r\n <" + address + ">";
        fuzz::Check(header.ends_with(tail), "header does not end in the address", header);
        const std::string words = header.substr(0, header.size() - tail.size());
        fuzz::Check(fuzz::DecodeWords(words, 76, 6) == mailbox.Name, "name does not decode back",
                    header);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<quorvel::MailAddress> list;
    try {
        list = quorvel::ParseAddressList(text);
    } catch (const quorvel::Error& e) {
        fuzz::Check(e.Number() == EINVAL, "refused with another number", e.what());
    }
    for (const auto& mailbox : list) CheckMailbox(mailbox);
    try {
        const quorvel::MailAddress one = quorvel::ParseMailbox(text);
        fuzz::Check(list.size() == 1 && one.Address == list[0].Address && one.Name == list[0].Name,
                    "mailbox differs");
    } catch (const quorvel::Error& e) {
        fuzz::Check(e.Number() == EINVAL && list.size() != 1, "mailbox refused but list has one",
                    text);
    }
    return 0;
}
