#include "posix/path_map.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "posix/codec.h"

namespace quorbel::posix {

namespace {

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

std::optional<std::string> RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return std::nullopt;
    std::string out(real);
    std::free(real);
    return out;
}

bool IsWithin(const std::string& real, const std::string& root) {
    if (root == "/") return !real.empty() && real[0] == '/';
    return real.compare(0, root.size(), root) == 0 && (real.size() == root.size() || real[root.size()] == '/');
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
    if (!roots_[index].empty()) {
        error = std::string("drive ") + char('A' + index) + ": is given twice";
        return false;
    }
    struct stat st{};
    std::optional<std::string> real = RealPath(folder);
    if (!real || ::stat(real->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "'" + folder + "': " + (real ? "not a folder" : std::strerror(errno));
        return false;
    }
    roots_[index] = *real;
    return true;
}

bool PathMap::Serves(char16_t letter) const {
    const int index = Index(letter);
    return index >= 0 && !roots_[index].empty();
}

bool PathMap::Empty() const {
    for (const std::string& root : roots_)
        if (!root.empty()) return false;
    return true;
}

const std::string& PathMap::RootOf(char16_t letter) const {
    static const std::string none;
    const int index = Index(letter);
    return index >= 0 ? roots_[index] : none;
}

std::optional<std::string> PathMap::Map(u16view windowsPath) const {
    if (!HasDriveForm(windowsPath) || !Serves(windowsPath[0])) return std::nullopt;
    const std::string& root = RootOf(windowsPath[0]);

    // Empty parts (a doubled or trailing "\") are skipped, as Windows does.
    std::vector<std::string> parts;
    for (std::size_t at = 3; at <= windowsPath.size();) {
        std::size_t end = windowsPath.find(u'\\', at);
        if (end == u16view::npos) end = windowsPath.size();
        if (end > at) {
            std::optional<std::string> name = PartName(windowsPath.substr(at, end - at));
            if (!name) return std::nullopt;
            parts.push_back(std::move(*name));
        }
        at = end + 1;
    }
    if (parts.empty()) return root;

    std::string base = root;
    bool resolving = true;  // false once a part does not exist: nothing below it can be a link
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string candidate = (base == "/" ? "" : base) + "/" + parts[i];
        struct stat st{};
        const bool last = i + 1 == parts.size();
        if (resolving && ::lstat(candidate.c_str(), &st) == 0) {
            if (last && !S_ISLNK(st.st_mode)) return candidate;
            // A link is followed to where it really leads; that must stay inside.
            std::optional<std::string> real = RealPath(candidate);
            if (!real || !IsWithin(*real, root)) return std::nullopt;
            if (last) return candidate;
            base = *real;
        } else {
            resolving = false;
            base = candidate;
        }
    }
    return base;
}

}  // namespace quorbel::posix
