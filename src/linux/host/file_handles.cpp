// The files a copy reads and writes, each a handle over its descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "linux/host/files.h"

namespace quorbel::posix {

namespace {

bool AllZero(const char* data, std::size_t length) {
    return data[0] == 0 && std::memcmp(data, data + 1, length - 1) == 0;
}

// The file open on `fd` is this user's alone: owned, no second name, and
// writable by no one else. The descriptor is asked, not a name, so a name
// swapped after the open changes nothing.
bool OwnedByThisUser(int fd) {
    struct stat st{};
    return fd >= 0 && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && st.st_nlink == 1 &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

class PosixFiles::Source : public SourceFile {
public:
    Source(PosixFiles& files, int fd, std::string shown) : files_(files), fd_(fd), shown_(std::move(shown)) {}

    int64_t Read(char* buffer, std::size_t maxBytes) override {
        for (;;) {
            const ssize_t n = ::read(fd_.Get(), buffer, maxBytes);
            if (n >= 0) return int64_t(n);
            if (errno == EINTR) continue;
            files_.Fail("cannot read", shown_, errno);
            return -1;
        }
    }

    bool Times(FileTimes& times) override {
        struct statx sx{};
        if (::statx(fd_.Get(), "", AT_EMPTY_PATH, STATX_BTIME | STATX_ATIME | STATX_MTIME, &sx) != 0) return false;
        // A file system without birth times gives the last-write time instead.
        const statx_timestamp& creation = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
        times.creation = ToFileTime(creation.tv_sec, creation.tv_nsec);
        times.lastAccess = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
        times.lastWrite = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
        return true;
    }

    bool OwnedHere() const override { return OwnedByThisUser(fd_.Get()); }

private:
    PosixFiles& files_;
    Fd fd_;
    std::string shown_;
};

// Received zero blocks of 4 KiB or more become holes.
class PosixFiles::Target : public TargetFile {
public:
    Target(PosixFiles& files, int fd, std::string shown) : files_(files), fd_(fd), shown_(std::move(shown)) {}

    bool Write(const char* data, std::size_t length) override {
        // Written before the block is answered: a failure reaches the peer
        // as its "NAK", not after the last block when nobody could hear of it.
        if (!fd_ || writeFailed_) return false;
        if (length >= 4096 && AllZero(data, length)) {
            holeAtEnd_ = ::lseek(fd_.Get(), off_t(length), SEEK_CUR) >= 0;
            return holeAtEnd_ || WriteFailed(errno);
        }
        holeAtEnd_ = false;
        while (length > 0) {
            const ssize_t n = ::write(fd_.Get(), data, length);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return WriteFailed(n < 0 ? errno : ENOSPC);
            data += n;
            length -= std::size_t(n);
        }
        return true;
    }

    bool Finish(const FileTimes& times) override {
        if (!fd_) return false;
        bool finished = !writeFailed_;
        // A hole at the end gives the file no size of its own.
        if (finished && holeAtEnd_) {
            const off_t end = ::lseek(fd_.Get(), 0, SEEK_CUR);
            finished = (end >= 0 && ::ftruncate(fd_.Get(), end) == 0) || WriteFailed(errno);
        }
        const timespec t[2] = {FromFileTime(times.lastAccess), FromFileTime(times.lastWrite)};
        if (finished)
            finished = ::futimens(fd_.Get(), t) == 0 || files_.Fail("cannot set the times of", shown_, errno);
        // A close that fails may be the write-back of data said to be written.
        if (::close(fd_.Release()) != 0) finished = WriteFailed(errno);
        return finished;
    }

    bool OwnedHere() const override { return OwnedByThisUser(fd_.Get()); }

private:
    bool WriteFailed(int error) {
        writeFailed_ = true;
        return files_.Fail("cannot write", shown_, error);
    }

    PosixFiles& files_;
    Fd fd_;
    std::string shown_;
    bool writeFailed_ = false;  // some data never reached the disk
    bool holeAtEnd_ = false;
};

std::unique_ptr<SourceFile> PosixFiles::OpenForRead(u16view path, uint64_t& size) {
    Place place;
    if (!Resolve(path, place)) return nullptr;
    // Not through a link, not blocking on a FIFO, and the file's last-access
    // time stays what the end record reports.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
    int fd = ::openat(place.folder.Get(), place.name.c_str(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = ::openat(place.folder.Get(), place.name.c_str(), flags);
    if (fd < 0) {
        Fail("cannot open", place.shown, errno);
        return nullptr;
    }
    Fd file(fd);
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Fail("cannot send", place.shown, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    size = uint64_t(st.st_size);
    return std::make_unique<Source>(*this, file.Release(), place.shown);
}

std::unique_ptr<TargetFile> PosixFiles::CreateNew(u16view path) {
    createdPath_.clear();
    Place place;
    if (!Resolve(path, place)) return nullptr;
    // Only a new file: never one that is there, nor one a link of that name
    // leads to. Its permissions are 0644 less the umask.
    const int fd = ::openat(place.folder.Get(), place.name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno != EEXIST) Fail("cannot create", place.shown, errno);
        return nullptr;
    }
    return Written(fd, path, std::move(place));
}

std::unique_ptr<TargetFile> PosixFiles::OpenForAppend(u16view path, uint64_t& size) {
    createdPath_.clear();
    Place place;
    if (!Resolve(path, place)) return nullptr;
    // A regular file of that name, not one a link leads to.
    const int fd = ::openat(place.folder.Get(), place.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail("cannot open", place.shown, errno);
        return nullptr;
    }
    Fd file(fd);
    struct stat st{};
    const off_t end = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::lseek(fd, 0, SEEK_END) : -1;
    if (end < 0) {
        Fail("cannot go on writing", place.shown, EINVAL);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    size = uint64_t(end);
    return Written(file.Release(), path, std::move(place));
}

std::unique_ptr<TargetFile> PosixFiles::Written(int fd, u16view path, Place&& place) {
    auto file = std::make_unique<Target>(*this, fd, place.shown);
    createdPath_.assign(path);
    created_ = std::move(place);
    return file;
}

}  // namespace quorbel::posix
