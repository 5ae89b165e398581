#include "linux/peer/state.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/protocol/login.h"
#include "crypto/crypto.h"
#include "linux/peer/messages.h"

namespace quorbel::peer {

namespace {

enum class Kept { Read, Missing, Unusable };

// The salt in `path`: a file of this user's of exactly its size.
Kept ReadSalt(const std::string& path, std::string& salt) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) return errno == ENOENT ? Kept::Missing : Kept::Unusable;
    struct stat st{};
    char bytes[kServerSaltBytes];
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                      st.st_size == off_t(sizeof bytes) && ::read(fd, bytes, sizeof bytes) == ssize_t(sizeof bytes);
    ::close(fd);
    if (read) salt.assign(bytes, sizeof bytes);
    return read ? Kept::Read : Kept::Unusable;
}

// Writes `salt` whole under a name of this process's, then gives it the
// file's name, which link() gives only where no file has it yet: a start
// beside this one either finds the whole salt or makes its own first.
// EEXIST in `error` where another start was first.
bool MakeSalt(const std::string& path, const std::string& salt, int& error) {
    const std::string own = path + "." + std::to_string(::getpid());
    ::unlink(own.c_str());  // left by a process of this number that was cut short
    const int fd = ::open(own.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool made = fd >= 0 && ::write(fd, salt.data(), salt.size()) == ssize_t(salt.size()) && ::fsync(fd) == 0;
    error = errno;
    if (fd >= 0 && ::close(fd) != 0 && made) made = false, error = errno;
    if (made && ::link(own.c_str(), path.c_str()) != 0) made = false, error = errno;
    if (fd >= 0) ::unlink(own.c_str());
    return made;
}

}  // namespace

std::string StateFolder(bool make) {
    std::string folder;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') {
        folder = state;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd* account = ::getpwuid(::getuid());
            home = account && account->pw_dir && account->pw_dir[0] == '/' ? account->pw_dir : nullptr;
        }
        if (!home) return std::string();
        folder = std::string(home) + "/.local";
        if (make) ::mkdir(folder.c_str(), 0700);
        folder += "/state";
    }
    if (make) ::mkdir(folder.c_str(), 0700);
    folder += "/quorbel";
    if (make) ::mkdir(folder.c_str(), 0700);
    return folder;
}

std::string ServerSalt() {
    const std::string folder = StateFolder(true);
    const std::string path = folder + "/server-salt";
    std::string salt, why = "no home folder is known";
    if (!folder.empty()) {
        Kept kept = ReadSalt(path, salt);
        int error = 0;
        if (kept == Kept::Missing) {
            const std::string made = crypto::RandomBytes(kServerSaltBytes);
            if (made.size() == kServerSaltBytes && MakeSalt(path, made, error)) return made;
            if (error == EEXIST) kept = ReadSalt(path, salt);
        }
        if (kept == Kept::Read) return salt;
        why = kept == Kept::Unusable ? "'" + path + "' is not a salt of this user's (16 bytes): remove it"
                                     : "'" + path + "' cannot be made" + (error ? std::string(": ") + std::strerror(error) : "");
    }
    Note("the Server's own salt is this run's alone (" + why + ")");
    return crypto::RandomBytes(kServerSaltBytes);
}

}  // namespace quorbel::peer
