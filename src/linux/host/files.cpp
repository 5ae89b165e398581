// Where the core's paths lead, what the peer may ask for, and the names of
// files and folders.
#include "linux/host/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace quorbel::posix {

bool PosixFiles::Refuse(const char* why) {
    refusal_ = why;
    return false;
}

bool PosixFiles::Fail(const std::string& what, const std::string& path, int error) {
    error_ = what + " '" + path + "': " + std::strerror(error);
    return false;
}

bool PosixFiles::Resolve(u16view path, Place& place) {
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

bool PosixFiles::AcceptsPeerRequest(Kind request, u16view path) {
    listener_.RequestArrived();
    if (!servesFiles_ && (request != Kind::List || drives_.Empty())) return request == Kind::List;
    if (readOnly_ && (request == Kind::CopyTo || request == Kind::MakeFolder)) return Refuse("read-only");
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
    if (request == Kind::CopyTo && S_ISDIR(st.st_mode)) return Refuse("folder");
    return true;
}

bool PosixFiles::CreateFolder(u16view path) {
    Place place;
    if (!Resolve(path, place)) return false;
    return ::mkdirat(place.folder.Get(), place.name.c_str(), 0777) == 0 ||
           Fail("cannot create the folder", place.shown, errno);
}

bool PosixFiles::FileExists(u16view path) {
    Place place;
    struct stat st{};
    return Resolve(path, place) && ::fstatat(place.folder.Get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool PosixFiles::FolderExists(u16view path) {
    Place place;
    struct stat st{};
    if (Resolve(path, place) && ::fstatat(place.folder.Get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode))
        return true;
    return Refuse("no-such-folder");
}

std::optional<FolderEntry> PosixFiles::LocalFile(u16view path) {
    Place place;
    struct stat st{};
    if (!Resolve(path, place) || ::fstatat(place.folder.Get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return std::nullopt;
    return EntryOf(u16(FileNameOf(path)), st);
}

bool PosixFiles::RemoveFile(u16view path) {
    Place place;
    if (!Resolve(path, place)) return false;
    if (::unlinkat(place.folder.Get(), place.name.c_str(), 0) == 0) return true;
    if (errno != ENOENT) Fail("cannot remove", place.shown, errno);
    return false;
}

bool PosixFiles::MoveIntoPlace(u16view from, u16view to) {
    Place source, target;
    if (!Resolve(from, source) || !Resolve(to, target)) return false;
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

}  // namespace quorbel::posix
