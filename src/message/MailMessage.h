#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/AddressList.h"
#include "message/AttachmentContent.h"

namespace quorvel {

// One attachment: how its content is opened (when its part is made; the opener throws LocalChange
// or Error as the content does), the name the recipient sees and its exact size in bytes.
struct MailAttachment {
    std::function<std::unique_ptr<AttachmentContent>()> Open;
    std::string Name;  // the name the recipient sees (clean UTF-8)
    std::string ContentType;
    std::uintmax_t Size = 0;  // what is read and sent
};

// Everything that one message says, before it is put on the wire.
struct MailMessage {
    MailAddress From;
    std::vector<MailAddress> To;
    std::string Subject;  // as given; cleaned and encoded when the header is written
    std::string Body;
    std::vector<MailAttachment> Attachments;
};

// "Вложения (" n "): " CR LF, each name and CR LF, "---" CR LF, then the signature as it stands.
// Names are cleaned as for a header, so that each takes exactly one line.
std::string MessageBody(const std::vector<std::string>& Files, std::string_view signature);

// RFC 5322 date in local time with its offset, e.g. "Sun, 06 Dec 2026 21:18:53 +0300"; English
// names whatever the locale.
std::string DateHeaderValue(std::chrono::system_clock::time_point when);

// A new unique Message-ID, "<random.time@domain>" with the domain of `fromAddress`.
std::string NewMessageId(std::string_view fromAddress, std::chrono::system_clock::time_point when);

}  // namespace quorvel
