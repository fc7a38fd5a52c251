#include "smtp/FailureKind.h"

#include <curl/curl.h>

namespace quorvel {

namespace {

bool IsPassingCurlCode(int code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_WEIRD_SERVER_REPLY:
            return true;
        default:
            return false;
    }
}

}  // namespace

FailureKind ClassifyFailure(int curlCode, long replyCode) {
    if (replyCode >= 400 && replyCode < 500) return FailureKind::Passing;
    if (replyCode >= 500 && replyCode < 600) return FailureKind::Lasting;
    return IsPassingCurlCode(curlCode) ? FailureKind::Passing : FailureKind::Lasting;
}

}  // namespace quorvel
