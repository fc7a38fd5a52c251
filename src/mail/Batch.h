#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/ContentDigest.h"
#include "base/FileDescriptor.h"
#include "mail/FileIdentity.h"

namespace quorvel {

// The identity of the entry `name` of the folder `folderFd` now, without following a link; empty
// when it is gone.
std::optional<FileIdentity> LookAt(int folderFd, const std::string& name);

// One file of a batch: its name in the recipient folder, the identity it had when it was listed,
// and the identity and content digest it had when its streaming ended (set by the send).
struct BatchFile {
    std::string Name;
    FileIdentity Listed;
    std::optional<FileIdentity> Sent;
    std::optional<ContentDigest> SentDigest;
};

// The batch of one recipient folder, held from its listing to its deletion or move. The folder is
// opened once, without following a link, and every later step works relative to that descriptor:
// a folder renamed away and replaced by a link meanwhile is never followed.
class Batch {
public:
    // Opens `name` inside the folder `parentFd` (the mail folder); empty when it is gone or is no
    // longer a real folder. Throws Error on any other failure.
    static std::optional<Batch> Open(int parentFd, const std::string& name);
    // The same for a folder path (used where no mail folder descriptor is at hand).
    static std::optional<Batch> OpenPath(const std::string& path);

    int Fd() const { return folder_.Get(); }
    const std::string& Folder() const { return name_; }
    std::vector<BatchFile>& Files() { return files_; }
    const std::vector<BatchFile>& Files() const { return files_; }
    std::vector<std::string> Names() const;

    std::optional<FileIdentity> Look(const std::string& name) const { return LookAt(Fd(), name); }
    // Adds `name` with the identity it has now (a zero identity when it is gone).
    void Add(const std::string& name);

    // Deletes a sent file when it is still the file that was sent, unchanged since its streaming
    // began. "" when it is deleted or already gone; otherwise why it stays.
    std::string DeleteSent(const BatchFile& file) const;

private:
    Batch(int fd, std::string name) : folder_(fd), name_(std::move(name)) {}

    FileDescriptor folder_;
    std::string name_;
    std::vector<BatchFile> files_;
};

// Why a file stays after its send: it changed during the send, and goes out in a later cycle.
inline constexpr const char* kChangedDuringSend = "changed during its send, to be sent again";

}  // namespace quorvel
