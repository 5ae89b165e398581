// The files of this side, as the protocol sees them: the folders it lists,
// and a handle for each file it reads or writes, closed when it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/base/text.h"
#include "core/panes/folder_rows.h"
#include "core/protocol/wire.h"

namespace quorbel {

// The three FILETIME values of a file, each as its 64-bit value.
struct FileTimes {
    uint64_t creation = 0;
    uint64_t lastAccess = 0;
    uint64_t lastWrite = 0;
};

// A file open for reading, not shared.
class SourceFile {
public:
    virtual ~SourceFile() = default;
    // What one read gave (0 at the end, fewer bytes than asked for at any
    // time), or -1 when the read fails.
    virtual int64_t Read(char* buffer, std::size_t maxBytes) = 0;
    virtual bool Times(FileTimes& times) = 0;
    // Whether this side may take the file for its own, as a copy that
    // resumes must: its user owns it, it has no other name, and no one
    // else may write it (a file another local user left is never one).
    virtual bool OwnedHere() const { return true; }
};

// A file open for writing, not shared.
class TargetFile {
public:
    virtual ~TargetFile() = default;
    virtual bool Write(const char* data, std::size_t length) = 0;
    // Gives the file `times` and closes it: true only when they were set and
    // every byte written reached the file. Nothing is written after it.
    virtual bool Finish(const FileTimes& times) = 0;
    // As SourceFile::OwnedHere.
    virtual bool OwnedHere() const { return true; }
};

class FileStore : public FolderSource {
public:
    // A request of the peer (Kind::List, CopyTo, CopyFrom or MakeFolder),
    // before it is served: false answers it with "NAK" (the Windows program
    // serves every path).
    virtual bool AcceptsPeerRequest(Kind, u16view) { return true; }
    // CreateDirectoryW with default security; true when it was created.
    virtual bool CreateFolder(u16view path) = 0;
    virtual bool FileExists(u16view path) = 0;
    virtual bool FolderExists(u16view path) = 0;
    // An existing file only (a missing one is not created); null when it
    // cannot be opened.
    virtual std::unique_ptr<SourceFile> OpenForRead(u16view path, uint64_t& size) = 0;
    // A new file only: null when the name exists.
    virtual std::unique_ptr<TargetFile> CreateNew(u16view path) = 0;
    // An existing file only, its bytes kept and the next written after them
    // (a partial file a copy resumes); `size` says how many.
    virtual std::unique_ptr<TargetFile> OpenForAppend(u16view path, uint64_t& size) = 0;
    virtual bool RemoveFile(u16view path) = 0;
    // Gives a received file its final name in one step, replacing a file of
    // that name, which stays as it was when this fails.
    virtual bool MoveIntoPlace(u16view from, u16view to) = 0;
};

}  // namespace quorbel
