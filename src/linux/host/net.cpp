#include "linux/host/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "core/base/limits.h"

namespace quorbel::posix {

namespace {

// How long a send that makes no progress may go on once a signal asked the
// program to end.
constexpr int kSignalGraceMs = 250;
// How often a send that waits looks whether the peer took anything.
constexpr int kProgressLookMs = 1000;

// The signals that end waits.
constexpr int kCaughtSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t g_signal = 0;
// The handler writes a byte here; the waits watch the other end.
int g_wake[2] = {-1, -1};

void Wake() {
    const char byte = 1;
    if (g_wake[1] >= 0 && ::write(g_wake[1], &byte, 1) < 0) {
        // Full: a wake is pending already.
    }
}

void OnSignal(int signal) {
    const int saved = errno;
    g_signal = signal;
    Wake();
    errno = saved;
}

// Bytes sent but not yet acknowledged by the peer, or -1.
long Queued(int fd) {
    int queued = 0;
    return ::ioctl(fd, SIOCOUTQ, &queued) == 0 ? queued : -1;
}

void DrainWakes() {
    char bytes[64];
    while (g_wake[0] >= 0 && ::read(g_wake[0], bytes, sizeof bytes) > 0) {
    }
}

// What a poll that watched the wake as well came to.
Ready WaitOutcome(int n, const pollfd& wake) {
    if (wake.revents != 0 || (n < 0 && errno == EINTR)) {
        DrainWakes();
        return Ready::Signal;
    }
    return n > 0 ? Ready::Yes : Ready::TimedOut;
}

}  // namespace

void CatchSignals() {
    if (g_wake[0] < 0 && ::pipe2(g_wake, O_NONBLOCK | O_CLOEXEC) != 0) g_wake[0] = g_wake[1] = -1;
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked call returns at once
    for (int signal : kCaughtSignals) sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

int CaughtSignal() { return g_signal; }

void ForgetCaughtSignal() {
    // In this order: a signal that comes in between stays remembered.
    g_signal = 0;
    DrainWakes();
}

Ready WaitFor(int fd, short events, int milliseconds) {
    pollfd p[2] = {{fd, events, 0}, {g_wake[0], POLLIN, 0}};
    return WaitOutcome(::poll(p, 2, std::max(milliseconds, 0)), p[1]);
}

Ready WaitForAny(pollfd* fds, std::size_t count, int milliseconds) {
    std::vector<pollfd> p(fds, fds + count);
    p.push_back({g_wake[0], POLLIN, 0});
    const int n = ::poll(p.data(), p.size(), std::max(milliseconds, 0));
    for (std::size_t i = 0; i < count; ++i) fds[i].revents = n > 0 ? p[i].revents : 0;
    return WaitOutcome(n, p.back());
}

pid_t ForkWithOwnWake() {
    sigset_t caught, before;
    sigemptyset(&caught);
    for (int signal : kCaughtSignals) sigaddset(&caught, signal);
    ::sigprocmask(SIG_BLOCK, &caught, &before);
    const pid_t pid = ::fork();
    if (pid == 0 && g_wake[0] >= 0) {
        for (int& end : g_wake) ::close(std::exchange(end, -1));
        if (::pipe2(g_wake, O_NONBLOCK | O_CLOEXEC) != 0) g_wake[0] = g_wake[1] = -1;
        else if (g_signal != 0) Wake();
    }
    // A signal held meanwhile is handled now, in each process on its own wake.
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    return pid;
}

int Listen(const std::string& address, uint16_t& port, std::string& error) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        error = "'" + address + "' is not an IPv4 address";
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    socklen_t length = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, kListenBacklog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

int Connect(const std::string& host, uint16_t port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (lookup != 0) {
        error = ::gai_strerror(lookup);
        return -1;
    }
    sockaddr_in address = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
    ::freeaddrinfo(found);
    address.sin_port = htons(port);
    // A signal during the connect ends it too: the user asked to stop.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

int SendAll(int fd, const char* data, std::size_t length, int stallMs) {
    using Clock = std::chrono::steady_clock;
    std::size_t sent = 0;
    // Looked at once the send queue is full: when, how much it held, and
    // how much of it the peer has taken since. What the peer took counts,
    // not what the queue took: a queue that grows while nothing of it is
    // acknowledged is no progress.
    Clock::time_point progress;
    std::size_t sentAtFull = 0;
    long queuedAtFull = -1, taken = 0;
    while (sent < length) {
        const ssize_t n = ::send(fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return n < 0 ? errno : EPIPE;
        const long queued = Queued(fd);
        if (sentAtFull == 0 && queuedAtFull < 0) {
            progress = Clock::now();
            sentAtFull = sent;
            queuedAtFull = queued;
            // A send time-out set on the socket bounds the wait as well: the
            // kernel applies it to no send that does not wait.
            timeval limit{};
            socklen_t size = sizeof limit;
            if (::getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, &size) == 0 && (limit.tv_sec > 0 || limit.tv_usec > 0))
                stallMs = int(std::min<long long>(stallMs, limit.tv_sec * 1000LL + limit.tv_usec / 1000));
        }
        const long takenNow = long(sent - sentAtFull) + (queued < 0 || queuedAtFull < 0 ? 0 : queuedAtFull - queued);
        if (takenNow > taken) {
            taken = takenNow;
            progress = Clock::now();
        }
        const int limit = CaughtSignal() ? std::min(stallMs, kSignalGraceMs) : stallMs;
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - progress).count();
        if (waited >= limit) return ETIMEDOUT;
        WaitFor(fd, POLLOUT, std::min(int(limit - waited), kProgressLookMs));
    }
    return 0;
}

std::string PeerAddress(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    char text[INET_ADDRSTRLEN] = "?";
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr)
        return "?";
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace quorbel::posix
