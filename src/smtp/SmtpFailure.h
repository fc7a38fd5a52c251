#pragma once

#include <string>

#include "base/Error.h"

namespace quorvel {

// A transfer that failed: libcurl's code as the number, a description that carries what libcurl
// and the server said, and the server's last reply code (0 when the server refused nothing, for
// example when it could not be reached or stopped answering). A caller that retries tells
// passing refusals (4xx) from lasting ones (5xx) by the reply code.
class SmtpFailure : public Error {
public:
    SmtpFailure(int curlCode, long replyCode, const std::string& description)
        : Error(curlCode, description), replyCode_(replyCode) {}

    long ReplyCode() const { return replyCode_; }

private:
    long replyCode_;
};

}  // namespace quorvel
