#include "dropfolder/SentFileDeletion.h"

#include <cstring>

namespace quorvel {

std::string DeletionReason(const SentFileDeletion& deletion) {
    switch (deletion.What) {
        case SentFileDeletion::Kind::Deleted:
            return "";
        case SentFileDeletion::Kind::ChangedDuringSend:
            return "changed during its send, to be sent again";
        case SentFileDeletion::Kind::OpenedDuringSend:
            return "opened for writing during its send, to be sent again";
        case SentFileDeletion::Kind::Failed:
            break;
    }
    return std::strerror(deletion.Number);
}

}  // namespace quorvel
