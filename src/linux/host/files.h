// The core's files on Linux: the served folders as drives, the local
// folder or tree of the Client's own paths, and a handle over a file
// descriptor for each file a copy reads or writes. What the front end
// should hear of it comes through a FilesListener.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/protocol/files.h"
#include "linux/host/codec.h"
#include "linux/host/path_map.h"

struct stat;

namespace quorbel::posix {

// An entry as a listing gives it, of what fstatat said of it.
FolderEntry EntryOf(u16 name, const struct stat& st);

class FilesListener {
public:
    virtual ~FilesListener() = default;
    // A line for the user: entries left out of a listing.
    virtual void Note(const std::string& line) = 0;
    // A request of the peer is about to be weighed against the drives: the
    // core asks only on behalf of a peer it serves.
    virtual void RequestArrived() {}
};

class PosixFiles : public FileStore {
public:
    PosixFiles(const IconvCodec& codec, const PathMap& drives, FilesListener& listener)
        : codec_(codec), drives_(drives), listener_(listener) {}
    PosixFiles(const PosixFiles&) = delete;
    PosixFiles& operator=(const PosixFiles&) = delete;

    // A Server serves every request inside its drives; a Client only lists
    // (its drives, or nothing) and answers the rest with "NAK".
    void SetServesFiles(bool serves) { servesFiles_ = serves; }
    // Refuses to receive files and to create folders.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    // Where the bare file names that the front end hands the core live.
    void SetLocalFolder(const std::string& folder) { localFolder_ = folder; }
    // Where the front end's paths live during a tree copy: "sub\\file" is
    // then found beneath the tree's drive C:, through no link; none (null)
    // for the bare names inside the local folder.
    void SetLocalTree(const PathMap* tree) { localTree_ = tree; }
    // The entries of the local tree's folder `path` ("" for its top) as a
    // tree copy reads them: links and special files marked as such
    // (kAttrReparsePoint, kAttrDevice), sizes exact. Names that are not
    // UTF-8 are counted in `unnamed`. False when the folder cannot be read.
    bool ListLocalTree(u16view path, const std::function<bool(const FolderEntry&)>& visit, int& unnamed);
    // The local regular file `path` as a listing gives it; none where no
    // such file has that name (a link is not followed).
    std::optional<FolderEntry> LocalFile(u16view path);
    // The cause of the last local failure, naming the path; emptied by reading.
    std::string TakeError() { return std::exchange(error_, std::string()); }
    // The word for why this side answered "NAK", where the drives decided
    // it ("outside", "link", "folder", "read-only", "no-such-folder");
    // emptied by reading.
    std::string TakeRefusal() { return std::exchange(refusal_, std::string()); }

    bool AcceptsPeerRequest(Kind request, u16view path) override;
    int DriveTypeOf(u16view root) override;
    bool ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) override;
    std::unique_ptr<FolderCursor> OpenFolder(u16view folder) override;

    bool CreateFolder(u16view path) override;
    bool FileExists(u16view path) override;
    bool FolderExists(u16view path) override;
    std::unique_ptr<SourceFile> OpenForRead(u16view path, uint64_t& size) override;
    std::unique_ptr<TargetFile> CreateNew(u16view path) override;
    std::unique_ptr<TargetFile> OpenForAppend(u16view path, uint64_t& size) override;
    bool RemoveFile(u16view path) override;
    bool MoveIntoPlace(u16view from, u16view to) override;

private:
    class Source;
    class Target;

    // The place of a path of the core: a peer path (drive form) beneath the
    // drives, or a path of the front end (absolute, or a bare name inside
    // the local folder). The file being received is found where it was
    // created, whatever its folder's name leads to since.
    bool Resolve(u16view path, Place& place);
    // The file just created or opened for writing: its place is kept.
    std::unique_ptr<TargetFile> Written(int fd, u16view path, Place&& place);
    bool Refuse(const char* why);
    bool Fail(const std::string& what, const std::string& path, int error);

    const IconvCodec& codec_;
    const PathMap& drives_;
    FilesListener& listener_;
    std::string refusal_;
    bool servesFiles_ = true;
    bool readOnly_ = false;
    std::string localFolder_;
    const PathMap* localTree_ = nullptr;
    std::string error_;
    // The last file created or opened for writing: the path of the core it
    // was opened under, and where it is.
    u16 createdPath_;
    Place created_;
};

}  // namespace quorbel::posix
