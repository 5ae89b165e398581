#include "linux/host/host.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "core/panes/row_rules.h"
#include "crypto/crypto.h"
#include "crypto/session.h"
#include "linux/host/net.h"

namespace quorbel::posix {

namespace {

bool AllZero(const char* data, std::size_t length) {
    return data[0] == 0 && std::memcmp(data, data + 1, length - 1) == 0;
}

FolderEntry EntryOf(u16 name, const struct stat& st) {
    FolderEntry entry;
    entry.name = std::move(name);
    entry.attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    tm local{};
    entry.lastWriteKnown = ::localtime_r(&st.st_mtime, &local) != nullptr;
    entry.lastWrite =
        LocalTimeFields{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min};
    // What GetCompressedFileSizeW gives on Windows: the size, or the space a
    // sparse file really takes when that is less.
    entry.sizeOnDisk = std::min(uint64_t(st.st_size), uint64_t(st.st_blocks) * 512);
    entry.sizeKnown = true;
    entry.bytes = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
    entry.lastWriteTime = ToFileTime(st.st_mtim.tv_sec, uint32_t(st.st_mtim.tv_nsec));
    return entry;
}

}  // namespace

PosixHost::PosixHost(const IconvCodec& codec, const PathMap& drives, HostListener& listener)
    : codec_(codec), drives_(drives), listener_(listener) {}

PosixHost::~PosixHost() {
    CloseTransfer();
}

void PosixHost::SetSocket(int fd) {
    socket_ = fd;
    sendError_ = 0;
    endAsked_ = boxShownAfterFailure_ = sentNak_ = false;
    refusal_.clear();
}

std::string PosixHost::TakeError() { return std::exchange(error_, std::string()); }

bool PosixHost::Refuse(const char* why) {
    refusal_ = why;
    return false;
}

bool PosixHost::Fail(const std::string& what, const std::string& path, int error) {
    error_ = what + " '" + path + "': " + std::strerror(error);
    return false;
}

bool PosixHost::Resolve(u16view path, Place& place) {
    if (!createdPath_.empty() && path == createdPath_) {
        place.folder = Fd(::fcntl(created_.folder.Get(), F_DUPFD_CLOEXEC, 0));
        place.name = created_.name;
        place.shown = created_.shown;
        return place.folder || Fail("cannot reach", place.shown, errno);
    }
    if (HasDriveForm(path) || localTree_) {
        int error = 0;
        std::optional<Place> found =
            HasDriveForm(path) ? drives_.Locate(path, error) : localTree_->Locate(u"C:\\" + u16(path), error);
        if (!found) {
            error_ = "'" + ToUtf8Lossy(path) + "' " +
                     (error == EINVAL ? std::string("is not inside a served folder")
                                      : error == ELOOP ? std::string("leads through a symbolic link")
                                                       : std::string("cannot be reached: ") + std::strerror(error));
            return false;
        }
        place = std::move(*found);
        return true;
    }
    std::optional<std::string> name = ToUtf8(path);
    if (!name || name->empty()) {
        error_ = "'" + ToUtf8Lossy(path) + "' is not a local path";
        return false;
    }
    place.shown = (*name)[0] == '/' ? *name : localFolder_ + "/" + *name;
    const std::size_t slash = place.shown.rfind('/');
    const std::string folder = slash == 0 ? "/" : place.shown.substr(0, slash);
    place.name = place.shown.substr(slash + 1);
    place.folder = Fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return place.folder || Fail("cannot reach", folder, errno);
}

// ---- The peer ----------------------------------------------------------------

int PosixHost::SendBytes(const char* data, std::size_t length) {
    if (socket_ < 0) return ENOTCONN;
    // A message cut by a failed send leaves nothing the peer could read on.
    if (sendError_ == 0) sendError_ = SendAll(socket_, data, length, kSendStallSeconds * 1000);
    return sendError_;
}

void PosixHost::ShowMessage(u16view text, u16view caption) {
    // One box per failed connection: whatever the core tries on it next
    // fails the same way.
    if (boxShownAfterFailure_) return;
    boxShownAfterFailure_ = sendError_ != 0;
    // Its first line: the rest of a failed send's box repeats the message,
    // file data and all.
    listener_.Box(ToUtf8Lossy(caption) + ": " + ToUtf8Lossy(text.substr(0, text.find_first_of(u"\r\n"))));
}

// The note's text repeats a record of the last listing, which may have been
// another peer's: only the fact is kept, for the refusal's log line.
void PosixHost::ShowSentNak(u16view) { sentNak_ = true; }

void PosixHost::SleepMs(uint32_t milliseconds) {
    // A signal ends the sleep, also one that came before it, so that the
    // loop that heeds it is not held.
    if (CaughtSignal() == 0) WaitFor(-1, 0, int(milliseconds));
}

bool PosixHost::AcceptsPeerRequest(Kind request, u16view path) {
    listener_.RequestArrived();
    if (!servesFiles_ && (request != Kind::List || drives_.Empty())) return request == Kind::List;
    if (readOnly_ && (request == Kind::TakeFile || request == Kind::MakeFolder))
        return Refuse("read-only");
    int error = 0;
    const std::optional<Place> place = drives_.Locate(path, error);
    if (error == EINVAL) return Refuse("outside");
    if (error == ELOOP) return Refuse("link");
    // A folder on the way that is missing: a listing is empty, anything
    // else fails in its own step.
    struct stat st{};
    if (!place || ::fstatat(place->folder.Get(), place->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
    if (S_ISLNK(st.st_mode)) return Refuse("link");
    // A file is never written over a folder (nor over a drive's own folder).
    if (request == Kind::TakeFile && S_ISDIR(st.st_mode)) return Refuse("folder");
    return true;
}

// ---- Listing -------------------------------------------------------------------

int PosixHost::DriveTypeOf(u16view root) {
    return !root.empty() && drives_.Serves(root[0]) ? kDriveFixed : kDriveUnknown;
}

namespace {

// The search of one served folder: what the peer can name and copy, its
// "." and ".." first unless it is a drive's own folder, as on Windows.
class ServedFolder : public FolderCursor {
public:
    ServedFolder(DIR* dir, Place place, u16view folder, const IconvCodec& codec, HostListener& listener)
        : dir_(dir), place_(std::move(place)), folder_(folder), codec_(codec), listener_(listener),
          dots_(place_.name != "." ? 0 : 2) {}
    ~ServedFolder() override {
        ::closedir(dir_);
        const std::string where = ToUtf8Lossy(folder_);
        if (notInCodePage_ > 0)
            listener_.Note(where + ": " + std::to_string(notInCodePage_) + " name(s) that " + codec_.Name() +
                           " cannot hold left out");
        if (links_ > 0) listener_.Note(where + ": " + std::to_string(links_) + " symbolic link(s) left out");
    }

    bool Next(FolderEntry& entry) override {
        struct stat st{};
        while (dots_ < 2) {
            const bool self = dots_++ == 0;
            if (::fstat(self ? ::dirfd(dir_) : place_.folder.Get(), &st) == 0) {
                entry = EntryOf(self ? u"." : u"..", st);
                return true;
            }
        }
        for (;;) {
            const dirent* d = ::readdir(dir_);
            if (d == nullptr) return false;
            const std::string_view bytes(d->d_name);
            if (bytes == "." || bytes == "..") continue;
            // Only names that the peer can hold exactly and use as one name.
            std::optional<u16> name = FromUtf8(bytes);
            if (!name || name->find(u'\\') != u16::npos || !codec_.Holds(*name)) {
                ++notInCodePage_;
                continue;
            }
            if (::fstatat(::dirfd(dir_), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            // No peer path leads through a link: it is not shown either.
            if (S_ISLNK(st.st_mode)) {
                ++links_;
                continue;
            }
            if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
            entry = EntryOf(std::move(*name), st);
            return true;
        }
    }

private:
    DIR* dir_;
    Place place_;
    u16 folder_;
    const IconvCodec& codec_;
    HostListener& listener_;
    int dots_;
    int notInCodePage_ = 0, links_ = 0;
};

}  // namespace

std::unique_ptr<FolderCursor> PosixHost::OpenFolder(u16view folder) {
    // Only the peer asks for listings: a folder outside the drives lists
    // nothing, as a folder that cannot be searched.
    int error = 0;
    std::optional<Place> place = drives_.Locate(folder, error);
    Fd opened(place ? ::openat(place->folder.Get(), place->name.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                    : -1);
    DIR* dir = opened ? ::fdopendir(opened.Get()) : nullptr;
    if (dir == nullptr) return nullptr;
    opened.Release();
    return std::make_unique<ServedFolder>(dir, std::move(*place), folder, codec_, listener_);
}

bool PosixHost::ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) {
    std::unique_ptr<FolderCursor> cursor = OpenFolder(folder);
    if (!cursor) return false;
    FolderEntry entry;
    while (cursor->Next(entry) && visit(entry)) {
    }
    return true;
}

bool PosixHost::ListLocalTree(u16view path, const std::function<bool(const FolderEntry&)>& visit, int& unnamed) {
    int error = ENOENT;
    const std::optional<Place> place = localTree_ ? localTree_->Locate(u"C:\\" + u16(path), error) : std::nullopt;
    Fd opened(place ? ::openat(place->folder.Get(), place->name.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                    : (errno = error, -1));
    DIR* dir = opened ? ::fdopendir(opened.Get()) : nullptr;
    if (dir == nullptr) return Fail("cannot list", place ? place->shown : ToUtf8Lossy(path), errno);
    opened.Release();
    struct stat st{};
    for (bool more = true; more;) {
        const dirent* d = ::readdir(dir);
        if (d == nullptr) break;
        const std::string_view bytes(d->d_name);
        if (bytes == "." || bytes == "..") continue;
        std::optional<u16> name = FromUtf8(bytes);
        if (!name) {
            ++unnamed;
            continue;
        }
        if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        FolderEntry entry = EntryOf(std::move(*name), st);
        entry.sizeOnDisk = uint64_t(st.st_size);  // a copy sends every byte, holes too
        if (S_ISLNK(st.st_mode)) entry.attributes = kAttrReparsePoint;
        else if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) entry.attributes = kAttrDevice;
        more = visit(entry);
    }
    ::closedir(dir);
    return true;
}

// ---- Folders and names ----------------------------------------------------------

bool PosixHost::CreateFolder(u16view path) {
    Place place;
    if (!Resolve(path, place)) return false;
    return ::mkdirat(place.folder.Get(), place.name.c_str(), 0777) == 0 ||
           Fail("cannot create the folder", place.shown, errno);
}

bool PosixHost::FileExists(u16view path) {
    Place place;
    struct stat st{};
    return Resolve(path, place) && ::fstatat(place.folder.Get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool PosixHost::FolderExists(u16view path) {
    Place place;
    struct stat st{};
    if (Resolve(path, place) && ::fstatat(place.folder.Get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode))
        return true;
    return Refuse("no-such-folder");
}

bool PosixHost::RemoveFile(u16view path) {
    Place place;
    if (!Resolve(path, place)) return false;
    if (::unlinkat(place.folder.Get(), place.name.c_str(), 0) == 0) return true;
    if (errno != ENOENT) Fail("cannot remove", place.shown, errno);
    return false;
}

bool PosixHost::ReplaceFile(u16view from, u16view to) {
    Place source, target;
    if (!Resolve(from, source) || !Resolve(to, target)) return false;
    finished_ = false;
    if (writeFailed_) {
        ::unlinkat(source.folder.Get(), source.name.c_str(), 0);
        return false;
    }
    // A replaced file keeps its permissions; a new one has those it was
    // created with (0644 less the umask).
    struct stat old{};
    if (::fstatat(target.folder.Get(), target.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode)) {
        const Fd file(
            ::openat(source.folder.Get(), source.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!file || ::fchmod(file.Get(), old.st_mode & 0777) != 0)
            return Fail("cannot give the permissions of '" + target.shown + "' to", source.shown, errno);
    }
    if (::renameat(source.folder.Get(), source.name.c_str(), target.folder.Get(), target.name.c_str()) == 0)
        return true;
    const int error = errno;
    error_ = "cannot rename '" + source.shown + "' to '" + target.shown + "' (the data stays there): " +
             std::strerror(error);
    return false;
}

// ---- The transfer file -------------------------------------------------------------

bool PosixHost::OpenTransferForRead(u16view path, uint64_t& size) {
    CloseTransfer();
    Place place;
    if (!Resolve(path, place)) return false;
    // Not through a link, not blocking on a FIFO, and the file's last-access
    // time stays what the end record reports.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
    int fd = ::openat(place.folder.Get(), place.name.c_str(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = ::openat(place.folder.Get(), place.name.c_str(), flags);
    if (fd < 0) return Fail("cannot open", place.shown, errno);
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return Fail("cannot send", place.shown, error);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    file_ = fd;
    writing_ = finished_ = writeFailed_ = false;
    filePath_ = place.shown;
    size = uint64_t(st.st_size);
    return true;
}

int64_t PosixHost::ReadTransfer(char* buffer, std::size_t maxBytes) {
    if (file_ < 0 || writing_) return -1;
    for (;;) {
        const ssize_t n = ::read(file_, buffer, maxBytes);
        if (n >= 0) return int64_t(n);
        if (errno == EINTR) continue;
        Fail("cannot read", filePath_, errno);
        return -1;
    }
}

bool PosixHost::GetTransferTimes(FileTimes& times) {
    struct statx sx{};
    if (file_ < 0 || ::statx(file_, "", AT_EMPTY_PATH, STATX_BTIME | STATX_ATIME | STATX_MTIME, &sx) != 0)
        return false;
    // A file system without birth times gives the last-write time instead.
    const statx_timestamp& creation = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
    times.creation = ToFileTime(creation.tv_sec, creation.tv_nsec);
    times.lastAccess = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    times.lastWrite = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    return true;
}

bool PosixHost::CreateTransferForWrite(u16view path) {
    CloseTransfer();
    createdPath_.clear();
    Place place;
    if (!Resolve(path, place)) return false;
    // Only a new file: never one that is there, nor one a link of that name
    // leads to. Its permissions are 0644 less the umask.
    const int fd = ::openat(place.folder.Get(), place.name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? false : Fail("cannot create", place.shown, errno);
    TakeWrittenFile(fd, path, std::move(place));
    return true;
}

void PosixHost::TakeWrittenFile(int fd, u16view path, Place&& place) {
    file_ = fd;
    writing_ = true;
    finished_ = writeFailed_ = holeAtEnd_ = false;
    filePath_ = place.shown;
    createdPath_.assign(path);
    created_ = std::move(place);
}

std::unique_ptr<PartHash> PosixHost::NewPartHash() { return crypto::NewPartHash(); }
std::unique_ptr<SecureSession> PosixHost::NewSecureSession(Role role, const std::string& loginText,
                                                           const std::string& salt) {
    return crypto::NewSecureSession(role, loginText, salt);
}

bool PosixHost::OpenTransferForAppend(u16view path, uint64_t& size) {
    CloseTransfer();
    createdPath_.clear();
    Place place;
    if (!Resolve(path, place)) return false;
    // A regular file of that name, not one a link leads to.
    const int fd = ::openat(place.folder.Get(), place.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail("cannot open", place.shown, errno);
    struct stat st{};
    const off_t end = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::lseek(fd, 0, SEEK_END) : -1;
    if (end < 0) {
        ::close(fd);
        return Fail("cannot go on writing", place.shown, EINVAL);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    TakeWrittenFile(fd, path, std::move(place));
    size = uint64_t(end);
    return true;
}

bool PosixHost::WriteFailed(int error) {
    writeFailed_ = true;
    return Fail("cannot write", filePath_, error);
}

bool PosixHost::WriteOut(const char* data, std::size_t length) {
    if (length >= 4096 && AllZero(data, length)) {
        holeAtEnd_ = ::lseek(file_, off_t(length), SEEK_CUR) >= 0;
        if (!holeAtEnd_) return WriteFailed(errno);
        return true;
    }
    holeAtEnd_ = false;
    while (length > 0) {
        const ssize_t n = ::write(file_, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return WriteFailed(n < 0 ? errno : ENOSPC);
        data += n;
        length -= std::size_t(n);
    }
    return true;
}

bool PosixHost::WriteTransfer(const char* data, std::size_t length) {
    // Written before the block is answered: a failure reaches the peer as
    // its "NAK", not after the last block when nobody could hear of it.
    return file_ >= 0 && writing_ && !writeFailed_ && WriteOut(data, length);
}

bool PosixHost::SetTransferTimes(const FileTimes& times) {
    if (file_ < 0 || !writing_) return false;
    finished_ = true;
    // A hole at the end gives the file no size of its own.
    if (holeAtEnd_) {
        const off_t end = ::lseek(file_, 0, SEEK_CUR);
        if (end < 0 || ::ftruncate(file_, end) != 0) return WriteFailed(errno);
        holeAtEnd_ = false;
    }
    const timespec t[2] = {FromFileTime(times.lastAccess), FromFileTime(times.lastWrite)};
    return ::futimens(file_, t) == 0 || Fail("cannot set the times of", filePath_, errno);
}

void PosixHost::CloseTransfer() {
    if (file_ >= 0 && ::close(file_) != 0 && writing_ && finished_) WriteFailed(errno);
    file_ = -1;
}

}  // namespace quorbel::posix
