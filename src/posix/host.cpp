#include "posix/host.h"

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

#include "core/format_rules.h"
#include "posix/net.h"

namespace quorbel::posix {

namespace {

// FILETIME counts 100 ns from 1601; 0 means "not known".
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;

uint64_t ToFileTime(int64_t seconds, uint32_t nanoseconds) {
    const int64_t value = kUnixEpochAsFileTime + seconds * 10000000LL + nanoseconds / 100;
    return value > 0 ? uint64_t(value) : 0;
}

timespec FromFileTime(uint64_t value) {
    timespec t{};
    if (value == 0 || value > uint64_t(INT64_MAX)) {
        t.tv_nsec = UTIME_OMIT;
        return t;
    }
    const int64_t since = int64_t(value) - kUnixEpochAsFileTime;
    int64_t seconds = since / 10000000LL, rest = since % 10000000LL;
    if (rest < 0) rest += 10000000LL, --seconds;
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>(rest * 100);
    return t;
}

std::string OneLine(u16view text) {
    std::string line = ToUtf8Lossy(text);
    for (std::size_t at; (at = line.find("\r\n")) != std::string::npos;) line.replace(at, 2, " / ");
    return line;
}

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
    return entry;
}

}  // namespace

PosixHost::PosixHost(const IconvCodec& codec, const PathMap& drives, HostListener& listener)
    : codec_(codec), drives_(drives), listener_(listener), piece_(new char[kPieceBytes]) {}

PosixHost::~PosixHost() {
    CloseTransfer();
    delete[] piece_;
}

std::string PosixHost::TakeError() { return std::exchange(error_, std::string()); }

bool PosixHost::Fail(const std::string& what, const std::string& path, int error) {
    error_ = what + " '" + path + "': " + std::strerror(error);
    return false;
}

bool PosixHost::Resolve(u16view path, std::string& local) {
    if (HasDriveForm(path)) {
        std::optional<std::string> mapped = drives_.Map(path);
        if (!mapped) {
            error_ = "'" + ToUtf8Lossy(path) + "' is not inside a served folder";
            return false;
        }
        local = std::move(*mapped);
        return true;
    }
    std::optional<std::string> name = ToUtf8(path);
    if (!name || name->empty()) {
        error_ = "'" + ToUtf8Lossy(path) + "' is not a local path";
        return false;
    }
    local = (*name)[0] == '/' ? *name : localFolder_ + "/" + *name;
    return true;
}

// ---- The peer ----------------------------------------------------------------

int PosixHost::SendBytes(const char* data, std::size_t length) {
    return socket_ < 0 ? ENOTCONN : SendAll(socket_, data, length);
}

void PosixHost::ShowMessage(u16view text, u16view caption) {
    listener_.Box(ToUtf8Lossy(caption) + ": " + OneLine(text));
}

void PosixHost::ShowSentNak(u16view text) { listener_.Note("sent NAK: " + OneLine(text)); }

void PosixHost::SleepMs(uint32_t milliseconds) {
    timespec left{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

bool PosixHost::AcceptsPeerRequest(PeerRequest request, u16view path) {
    if (!servesFiles_) return request == PeerRequest::List && (drives_.Empty() || drives_.Map(path));
    const std::optional<std::string> local = drives_.Map(path);
    // A file is never written over a folder (nor over a drive's own folder).
    struct stat st{};
    return local && (request != PeerRequest::TakeFile || ::lstat(local->c_str(), &st) != 0 || !S_ISDIR(st.st_mode));
}

// ---- Listing -------------------------------------------------------------------

int PosixHost::DriveTypeOf(u16view root) {
    return !root.empty() && drives_.Serves(root[0]) ? kDriveFixed : kDriveUnknown;
}

bool PosixHost::ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) {
    // Only the peer asks for listings: a folder outside the drives lists
    // nothing, as a folder that cannot be searched.
    const std::optional<std::string> path = drives_.Map(folder);
    if (!path) return false;
    const std::string& root = drives_.RootOf(folder[0]);
    const std::optional<std::string> real = RealPath(*path);
    DIR* dir = real ? ::opendir(real->c_str()) : nullptr;
    if (dir == nullptr) return false;

    bool more = true;
    struct stat st{};
    // A drive's own folder has no "." and "..", as a Windows drive root.
    if (*real != root) {
        const std::string parent = real->substr(0, std::max<std::size_t>(real->rfind('/'), 1));
        if (::stat(real->c_str(), &st) == 0) more = visit(EntryOf(u".", st));
        if (more && ::stat(parent.c_str(), &st) == 0) more = visit(EntryOf(u"..", st));
    }
    int notInCodePage = 0, leadingOut = 0;
    while (more) {
        errno = 0;
        const dirent* d = ::readdir(dir);
        if (d == nullptr) break;
        const std::string_view bytes(d->d_name);
        if (bytes == "." || bytes == "..") continue;
        // Only names that the peer can hold exactly and use as one name.
        std::optional<u16> name = FromUtf8(bytes);
        if (!name || name->find(u'\\') != u16::npos || !codec_.Holds(*name)) {
            ++notInCodePage;
            continue;
        }
        if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            const std::optional<std::string> target = RealPath(*real + "/" + d->d_name);
            if (!target || !IsWithin(*target, root) || ::stat(target->c_str(), &st) != 0) {
                ++leadingOut;
                continue;
            }
        }
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
        more = visit(EntryOf(std::move(*name), st));
    }
    ::closedir(dir);
    const std::string where = ToUtf8Lossy(folder);
    if (notInCodePage > 0)
        listener_.Note(where + ": " + std::to_string(notInCodePage) + " name(s) that " + codec_.Name() +
                       " cannot hold left out");
    if (leadingOut > 0)
        listener_.Note(where + ": " + std::to_string(leadingOut) +
                       " link(s) leading out of the served folder left out");
    return true;
}

// ---- Folders and names ----------------------------------------------------------

bool PosixHost::CreateFolder(u16view path) {
    std::string local;
    if (!Resolve(path, local)) return false;
    return ::mkdir(local.c_str(), 0777) == 0 || Fail("cannot create the folder", local, errno);
}

bool PosixHost::FileExists(u16view path) {
    std::string local;
    struct stat st{};
    return Resolve(path, local) && ::lstat(local.c_str(), &st) == 0;
}

bool PosixHost::FolderExists(u16view path) {
    std::string local;
    struct stat st{};
    return Resolve(path, local) && ::lstat(local.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixHost::RemoveFile(u16view path) {
    std::string local;
    if (!Resolve(path, local)) return false;
    if (::unlink(local.c_str()) == 0) return true;
    if (errno != ENOENT) Fail("cannot remove", local, errno);
    return false;
}

bool PosixHost::ReplaceFile(u16view from, u16view to) {
    std::string source, target;
    if (!Resolve(from, source) || !Resolve(to, target)) return false;
    finished_ = false;
    if (writeFailed_) {
        ::unlink(source.c_str());
        return false;
    }
    if (::rename(source.c_str(), target.c_str()) == 0) return true;
    const int error = errno;
    error_ = "cannot rename '" + source + "' to '" + target + "' (the data stays there): " + std::strerror(error);
    return false;
}

// ---- The transfer file -------------------------------------------------------------

bool PosixHost::OpenTransferForRead(u16view path, uint64_t& size) {
    CloseTransfer();
    std::string local;
    if (!Resolve(path, local)) return false;
    // Not blocking on a FIFO, and the file's last-access time stays what the
    // end record reports.
    int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Fail("cannot open", local, errno);
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return Fail("cannot send", local, error);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    file_ = fd;
    writing_ = finished_ = writeFailed_ = readEnd_ = false;
    readError_ = 0;
    filePath_ = local;
    size = uint64_t(st.st_size);
    return true;
}

void PosixHost::FillPiece() {
    pieceRead_ = pieceFill_ = 0;
    while (pieceFill_ < kPieceBytes && !readEnd_ && readError_ == 0) {
        const ssize_t n = ::read(file_, piece_ + pieceFill_, kPieceBytes - pieceFill_);
        if (n > 0) pieceFill_ += std::size_t(n);
        else if (n == 0) readEnd_ = true;
        else if (errno != EINTR) readError_ = errno;
    }
}

int64_t PosixHost::ReadTransfer(char* buffer, std::size_t maxBytes) {
    if (file_ < 0 || writing_) return -1;
    std::size_t copied = 0;
    while (copied < maxBytes && readError_ == 0) {
        if (pieceRead_ < pieceFill_) {
            const std::size_t n = std::min(pieceFill_ - pieceRead_, maxBytes - copied);
            std::memcpy(buffer + copied, piece_ + pieceRead_, n);
            pieceRead_ += n;
            copied += n;
        } else if (readEnd_) {
            break;
        } else if (maxBytes - copied >= kPieceBytes) {
            // A large block (the fast mode's) goes straight into place.
            const ssize_t n = ::read(file_, buffer + copied, maxBytes - copied);
            if (n > 0) copied += std::size_t(n);
            else if (n == 0) readEnd_ = true;
            else if (errno != EINTR) readError_ = errno;
        } else {
            FillPiece();
        }
    }
    if (readError_ == 0) return int64_t(copied);
    Fail("cannot read", filePath_, readError_);
    return -1;
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
    std::string local;
    if (!Resolve(path, local)) return false;
    // A new file only: whatever has the name (a link included) stays as it is.
    const int fd = ::open(local.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? false : Fail("cannot create", local, errno);
    file_ = fd;
    writing_ = true;
    finished_ = writeFailed_ = holeAtEnd_ = false;
    filePath_ = local;
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
    pieceFill_ = pieceRead_ = 0;
}

}  // namespace quorbel::posix
