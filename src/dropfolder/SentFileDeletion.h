#pragma once

#include <string>

namespace quorvel {

// How the deletion of a sent file ended (see Batch::DeleteSent).
struct SentFileDeletion {
    enum class Kind {
        Deleted,            // deleted, or already gone: no loss
        ChangedDuringSend,  // it changed during its send and goes out again in a later cycle
        OpenedDuringSend,   // someone opened it for writing since its listing, so it may not be
                            // complete; it goes out again, whole, once it is quiet
        Failed,             // the system refused to delete it (Number)
    };
    Kind What = Kind::Deleted;
    int Number = 0;  // of Failed: the errno of the refusal
};

// Why a sent file stays, in the words of mail.log; "" for one deleted.
std::string DeletionReason(const SentFileDeletion& deletion);

}  // namespace quorvel
