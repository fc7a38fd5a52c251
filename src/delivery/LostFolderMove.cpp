// The batch of a failed send on its way into <LostFolder>/<folder>/: the lost folder and its
// recipient folder created and opened without following a link, then each file moved without
// overwriting anything there. A file that cannot be moved stays in the mail folder, noted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Error.h"
#include "config/FolderRules.h"
#include "delivery/Scanner.h"
#include "dropfolder/FileMover.h"

namespace quorvel {

namespace {

// Opens a folder; O_NOFOLLOW is added where a link in its place must not be followed.
constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// A move that failed for want of room in the lost folder's file system: trying it again at once
// would only churn a full disk.
bool NoRoom(int err) { return err == ENOSPC || err == EDQUOT; }

// <LostFolder>/<folder>, created no more open than the recipient folder `mailFd` it mirrors, and
// opened without following a link: anything there that is not a real folder is never written
// through.
FileDescriptor OpenRecipientFolder(int lostFd, const std::string& lostFolder,
                                   const std::string& folder, int mailFd) {
    const std::string path = lostFolder + "/" + folder;
    struct stat mirrored {};
    const mode_t mode = ::fstat(mailFd, &mirrored) == 0 ? (mirrored.st_mode & 0777) : 0700;
    if (::mkdirat(lostFd, folder.c_str(), mode) != 0 && errno != EEXIST)
        throw SystemError("cannot create " + path);
    FileDescriptor fd(::openat(lostFd, folder.c_str(), kOpenFolder | O_NOFOLLOW));
    if (fd.Valid()) return fd;
    if (errno == ELOOP || errno == ENOTDIR) throw Error(errno, path + " is not a real folder");
    throw SystemError("cannot open " + path);
}

// The files of a batch that stayed in the mail folder, and whether one found no room.
struct FilesLeft {
    std::vector<FileNote> Notes;
    bool NoRoom = false;
};

// Moves the files of `batch` into the lost recipient folder `targetFd`.
FilesLeft MoveFiles(const Batch& batch, int targetFd) {
    RemoveStaleCopies(targetFd);
    FilesLeft left;
    for (const BatchFile& file : batch.Files()) {
        try {
            MoveWithoutOverwrite(batch.Fd(), file.Name, file.Listed, targetFd);
        } catch (const Error& e) {
            left.Notes.push_back({file.Name, FileNote::Kind::NotMoved, e.what()});
            left.NoRoom = left.NoRoom || NoRoom(e.Number());
        }
    }
    return left;
}

}  // namespace

// The lost folder itself, created (one level, open to its owner only) when missing. The folder
// pinned at the settings check may be reached through the administrator's link; one that was
// missing then is created or taken only as a real folder.
FileDescriptor Scanner::OpenLostFolder(const std::string& lostFolder) {
    if (::mkdir(lostFolder.c_str(), 0700) != 0 && errno != EEXIST)
        throw SystemError("cannot create " + lostFolder);
    FileDescriptor fd(
        ::open(lostFolder.c_str(), kOpenFolder | (lostPin_.Known() ? 0 : O_NOFOLLOW)));
    if (!fd.Valid()) throw SystemError("cannot open " + lostFolder);
    if (!lostPin_.Hold(fd.Get())) {
        throw Error(ESTALE,
                    lostFolder + " is not the folder it was when the settings were checked");
    }
    return fd;
}

// When the lost folder had no room, the folder waits [SMTP] RetryDelay before it is tried again.
CycleResult Scanner::MoveBatchToLost(const Batch& batch, const std::string& mailFolder,
                                     std::string failure) {
    CycleResult result =
        CycleResult::Of(CycleResult::Kind::Lost, batch.Folder(), std::move(failure));
    const std::string lostFolder = LostFolder();
    if (lostFolder.empty()) {
        result.Move.What = LostFolderMove::Kind::NotSet;
        return result;
    }
    if (FoldersOverlap(mailFolder, lostFolder)) {
        result.Move = {LostFolderMove::Kind::Overlapping,
                       FolderOverlapText(mailFolder, lostFolder)};
        return result;
    }
    Enter(CyclePhase::LostFolder, lostFolder);
    bool noRoom = false;
    try {
        FileDescriptor target = OpenRecipientFolder(OpenLostFolder(lostFolder).Get(), lostFolder,
                                                    batch.Folder(), batch.Fd());
        FilesLeft left = MoveFiles(batch, target.Get());
        result.Notes = std::move(left.Notes);
        noRoom = left.NoRoom;
    } catch (const Error& e) {
        result.Move = {LostFolderMove::Kind::Unusable, e.what()};
        noRoom = NoRoom(e.Number());
    }
    if (!noRoom) return result;
    const auto until = clock_.Now() + CurrentRetrySettings().RetryDelay;
    retries_.Hold(batch.Folder(), clock_.Now(), until);
    result.RetryAt = until;
    return result;
}

void Scanner::RemoveStaleCopies() {
    try {
        const std::string lostFolder = LostFolder();
        if (lostFolder.empty()) return;
        FolderListing lost = FolderListing::Open(lostFolder);
        lost.ForEach([&](std::string_view name, EntryKind kind) {
            if (kind != EntryKind::Folder) return true;
            FileDescriptor folder(
                ::openat(lost.Fd(), std::string(name).c_str(), kOpenFolder | O_NOFOLLOW));
            if (folder.Valid()) quorvel::RemoveStaleCopies(folder.Get());
            return true;
        });
    } catch (const Error&) {
        // No lost folder yet, or none to read: nothing was left there.
    }
}

}  // namespace quorvel
