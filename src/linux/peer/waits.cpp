#include "linux/peer/waits.h"

#include <poll.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

#include "linux/host/net.h"

namespace quorbel::peer {

void InstallSignals() { posix::CatchSignals(); }
int PendingSignal() { return posix::CaughtSignal(); }
void ForgetSignal() { posix::ForgetCaughtSignal(); }

void SetReceiveTick(int fd) {
    const timeval tick{0, kTickMs * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
}

Cork::Cork(int fd, bool fast) : fd_(fast ? fd : -1) {
    const int on = 1;
    if (fd_ >= 0) ::setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

Cork::~Cork() {
    const int off = 0;
    if (fd_ >= 0) ::setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &off, sizeof off);
}

Receipt ReceiveOnce(Protocol& protocol, int fd, int waitMs) {
    // A wait of a whole tick is the recv itself, one call per message: a
    // signal interrupts it, and one that came just before it is heard at the
    // end of the tick. A shorter wait is a wait of its own.
    int flags = 0;
    if (waitMs < kTickMs) {
        switch (posix::WaitFor(fd, POLLIN, waitMs)) {
            case posix::Ready::Signal: return Receipt::Interrupted;
            case posix::Ready::TimedOut: return Receipt::Nothing;
            case posix::Ready::Yes: flags = MSG_DONTWAIT;
        }
    }
    const ssize_t n = ::recv(fd, protocol.ReceiveSpace(), protocol.ReceiveSpaceBytes(), flags);
    if (n < 0 && errno == EINTR) return Receipt::Interrupted;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Receipt::Nothing;
    if (n <= 0) return Receipt::Closed;
    // What the messages at hand answer leaves in full segments, not one each:
    // a window of small files brings many at once.
    const Cork cork(fd, protocol.FastMode());
    return protocol.Received(std::size_t(n)) ? Receipt::Data : Receipt::BadFrame;
}

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

}  // namespace quorbel::peer
