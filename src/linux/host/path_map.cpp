#include "linux/host/path_map.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "linux/host/codec.h"

namespace quorbel::posix {

namespace {

// Set once the kernel said it has no openat2.
std::atomic<bool> g_noOpenat2{false};

// One name of a peer path as a Linux name. Names of dots alone ("..", but
// also "." and "...", which Windows shortens), a "/" (a separator here),
// control characters (no Windows name has them) and U+FFFD (bytes the code
// page does not define) are refused.
std::optional<std::string> PartName(u16view part) {
    if (part.find_first_not_of(u'.') == u16view::npos) return std::nullopt;
    for (char16_t c : part)
        if (c == u'/' || c < 0x20 || c == 0x7F || c == 0xFFFD) return std::nullopt;
    return ToUtf8(part);
}

}  // namespace

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

int Fd::Release() { return std::exchange(fd_, -1); }

std::optional<std::string> RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return std::nullopt;
    std::string out(real);
    std::free(real);
    return out;
}

bool HasDriveForm(u16view path) {
    return path.size() >= 3 && ((path[0] | 0x20) >= u'a' && (path[0] | 0x20) <= u'z') && path[1] == u':' &&
           path[2] == u'\\';
}

int PathMap::Index(char16_t letter) {
    const char16_t lower = letter | 0x20;
    return lower >= u'a' && lower <= u'z' ? lower - u'a' : -1;
}

bool PathMap::AddDrive(char letter, const std::string& folder, std::string& error) {
    const int index = Index(static_cast<unsigned char>(letter));
    if (index < 0) {
        error = std::string("'") + letter + "' is not a drive letter";
        return false;
    }
    if (roots_[index]) {
        error = std::string("drive ") + char('A' + index) + ": is given twice";
        return false;
    }
    std::optional<std::string> real = RealPath(folder);
    Fd root(real ? ::open(real->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
    if (!root) {
        error = "'" + folder + "': " + (real && errno == ENOTDIR ? "not a folder" : std::strerror(errno));
        return false;
    }
    roots_[index] = std::move(root);
    shown_[index] = *real == "/" ? "" : *real;
    return true;
}

bool PathMap::Serves(char16_t letter) const {
    const int index = Index(letter);
    return index >= 0 && roots_[index];
}

bool PathMap::Empty() const {
    for (const Fd& root : roots_)
        if (root) return false;
    return true;
}

int PathMap::OpenBeneath(int root, const std::vector<std::string>& folders, int& error) const {
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    if (!stepByStep_ && !g_noOpenat2) {
        std::string path = ".";
        for (const std::string& folder : folders) path += "/" + folder;
        open_how how{};
        how.flags = kFlags;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
        // EAGAIN: a rename elsewhere raced the kernel's check, which asks
        // for another try.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const long fd = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
            if (fd >= 0) return static_cast<int>(fd);
            error = errno;
            if (error != EAGAIN) break;
        }
        if (error != ENOSYS) return -1;
        g_noOpenat2 = true;
    }
    // One folder at a time, none of them a link.
    Fd at(::openat(root, ".", kFlags));
    for (const std::string& folder : folders) {
        if (!at) break;
        const int next = ::openat(at.Get(), folder.c_str(), kFlags | O_NOFOLLOW);
        if (next < 0) {
            error = errno;
            // A link refuses O_DIRECTORY with ENOTDIR, as a file does.
            struct stat st{};
            if (error == ENOTDIR && ::fstatat(at.Get(), folder.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode))
                error = ELOOP;
            return -1;
        }
        at = Fd(next);
    }
    if (!at) error = errno;
    return at.Release();
}

std::optional<Place> PathMap::Locate(u16view windowsPath, int& error) const {
    error = EINVAL;
    if (!HasDriveForm(windowsPath) || !Serves(windowsPath[0])) return std::nullopt;
    const int index = Index(windowsPath[0]);

    // Empty parts (a doubled or trailing "\") are skipped, as Windows does.
    Place place{Fd(), ".", shown_[index]};
    std::vector<std::string> folders;
    for (std::size_t at = 3; at <= windowsPath.size();) {
        std::size_t end = windowsPath.find(u'\\', at);
        if (end == u16view::npos) end = windowsPath.size();
        if (end > at) {
            std::optional<std::string> name = PartName(windowsPath.substr(at, end - at));
            if (!name) return std::nullopt;
            if (place.name != ".") folders.push_back(std::move(place.name));
            place.shown += "/" + *name;
            place.name = std::move(*name);
        }
        at = end + 1;
    }
    if (place.shown.empty()) place.shown = "/";
    place.folder = Fd(OpenBeneath(roots_[index].Get(), folders, error));
    if (!place.folder) return std::nullopt;
    error = 0;
    return place;
}

}  // namespace quorbel::posix
