#include "linux/peer/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "linux/host/net.h"
#include "linux/host/path_map.h"
#include "linux/peer/exit_codes.h"
#include "linux/peer/messages.h"
#include "linux/peer/waits.h"

namespace quorbel::peer {

Spool::~Spool() {
    if (folder_.empty()) return;
    // What a copy left there (a cut one's part and note too).
    if (DIR* dir = ::opendir(folder_.c_str())) {
        while (const dirent* d = ::readdir(dir))
            if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
                ::unlinkat(::dirfd(dir), d->d_name, 0);
        ::closedir(dir);
    }
    ::rmdir(folder_.c_str());
}

int Spool::Make() {
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorbel-peer.XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) {
        Error("cannot make a temporary folder in '" + name.substr(0, name.rfind('/')) + "': " + std::strerror(errno));
        return kExitLocal;
    }
    folder_ = name;
    return kExitDone;
}

int Spool::TakeFrom(int from, uint64_t limit, const std::string& shown) {
    const std::string path = folder_ + "/" + kFileName;
    const posix::Fd to(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!to) return Failed("cannot create", "'" + path + "'");
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = Move(from, to.Get());
        if (n == 0) return kExitDone;
        if (n < 0) return PendingSignal() ? SignalExitCode(PendingSignal()) : Failed("cannot copy", shown);
        if ((total += uint64_t(n)) > limit) {
            Error(shown + " holds more than the " + std::to_string(limit) + " bytes a copy can move");
            return kExitUsage;
        }
    }
}

int Spool::CopyTo(const std::string& path, int to, const std::string& shown) {
    const posix::Fd from(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    // An empty file, where the peer sent its end alone, is not made.
    if (!from) return errno == ENOENT ? kExitDone : Failed("cannot read", "'" + path + "'");
    for (;;) {
        const ssize_t n = Move(from.Get(), to);
        if (n == 0) return kExitDone;
        if (n < 0) return PendingSignal() ? SignalExitCode(PendingSignal()) : Failed("cannot write to", shown);
    }
}

int Spool::Failed(const std::string& what, const std::string& shown) {
    Error(what + " " + shown + ": " + std::strerror(errno));
    return kExitLocal;
}

ssize_t Spool::Move(int from, int to) {
    char buffer[1 << 16];
    ssize_t n;
    do {
        if (!Ready(from, POLLIN)) return -1;
    } while ((n = ::read(from, buffer, sizeof buffer)) < 0 && (errno == EINTR || errno == EAGAIN));
    for (ssize_t done = 0; n > 0 && done < n;) {
        if (!Ready(to, POLLOUT)) return -1;
        const ssize_t w = ::write(to, buffer + done, std::size_t(n - done));
        if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (w <= 0) return -1;
        done += w;
    }
    return n;
}

bool Spool::Ready(int fd, short events) {
    for (;;) {
        if (PendingSignal()) return false;
        if (posix::WaitFor(fd, events, kTickMs) == posix::Ready::Yes) return true;
    }
}

}  // namespace quorbel::peer
