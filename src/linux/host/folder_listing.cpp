// The folders this side lists: the served ones for the peer, and the local
// tree a put -r reads.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <utility>

#include "core/panes/row_rules.h"
#include "linux/host/files.h"

namespace quorbel::posix {

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

namespace {

// The search of one served folder: what the peer can name and copy, its
// "." and ".." first unless it is a drive's own folder, as on Windows.
class ServedFolder : public FolderCursor {
public:
    ServedFolder(DIR* dir, Place place, u16view folder, const IconvCodec& codec, FilesListener& listener)
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
    FilesListener& listener_;
    int dots_;
    int notInCodePage_ = 0, links_ = 0;
};

}  // namespace

int PosixFiles::DriveTypeOf(u16view root) {
    return !root.empty() && drives_.Serves(root[0]) ? kDriveFixed : kDriveUnknown;
}

std::unique_ptr<FolderCursor> PosixFiles::OpenFolder(u16view folder) {
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

bool PosixFiles::ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) {
    std::unique_ptr<FolderCursor> cursor = OpenFolder(folder);
    if (!cursor) return false;
    FolderEntry entry;
    while (cursor->Next(entry) && visit(entry)) {
    }
    return true;
}

bool PosixFiles::ListLocalTree(u16view path, const std::function<bool(const FolderEntry&)>& visit, int& unnamed) {
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

}  // namespace quorbel::posix
