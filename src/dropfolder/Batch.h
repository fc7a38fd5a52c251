#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/ContentDigest.h"
#include "base/FileDescriptor.h"
#include "dropfolder/FileIdentity.h"
#include "dropfolder/ReadLease.h"
#include "dropfolder/SentFileDeletion.h"

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
//
// While it is held the batch claims its folder (an exclusive flock on the folder's descriptor), so
// that a second process on the same mail folder skips a folder that another one is sending. Each
// file is watched by a read lease from its listing to its deletion (up to kMaxLeases files, so
// that a huge batch does not run out of descriptors).
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

    static constexpr std::size_t kMaxLeases = 256;

    // True when another process holds the claim on this folder: it is sending it now. The claim
    // and the leases end with the batch.
    bool ClaimedByAnother() const { return claim_ == Claim::Another; }

    std::optional<FileIdentity> Look(const std::string& name) const { return LookAt(Fd(), name); }
    // Adds `name` with the identity it has now (a zero identity when it is gone), and watches it.
    void Add(const std::string& name);
    // True when a read lease watches the file at `index` for writers.
    bool Watched(std::size_t index) const { return leases_[index].Held(); }

    // Deletes the sent file at `index` when it is still the file that was sent, unchanged since its
    // streaming began (or changed only in its mode or times, its content still what was sent), and
    // nobody opened it for writing since its listing (`inUse`: the caller's lock test says someone
    // holds it now). Tells whether it is deleted or already gone, or why it stays.
    SentFileDeletion DeleteSent(std::size_t index, bool inUse) const;

private:
    enum class Claim { Ours, Another, Unavailable };

    Batch(int fd, std::string name);
    bool SameContent(std::size_t index, const FileIdentity& now) const;

    FileDescriptor folder_;
    std::string name_;
    Claim claim_ = Claim::Unavailable;
    std::vector<BatchFile> files_;
    std::vector<ReadLease> leases_;
};

}  // namespace quorvel
