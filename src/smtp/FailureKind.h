#pragma once

namespace quorvel {

// Whether a failed send may go through when it is tried again later. Passing: the server could
// not be reached, a timeout, a connection dropped mid-way, any 4xx reply. Lasting: any 5xx reply,
// a refused login, an invalid address or setting, a certificate that does not verify, an
// attachment that cannot be read.
enum class FailureKind { Passing, Lasting };

// Sorts a failure by the server's reply code where the server gave one (`replyCode` 0 when none),
// otherwise by libcurl's code (`curlCode`; an unknown code counts as lasting, so that nothing
// waits for a fault that no later try can mend).
FailureKind ClassifyFailure(int curlCode, long replyCode);

}  // namespace quorvel
