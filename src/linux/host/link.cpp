#include "linux/host/link.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "linux/host/net.h"

namespace quorbel::posix {

void PosixLink::SetSocket(int fd) {
    socket_ = fd;
    sendError_ = 0;
    endAsked_ = cutAsked_ = boxShownAfterFailure_ = false;
}

bool PosixLink::BoxDue() {
    if (boxShownAfterFailure_) return false;
    boxShownAfterFailure_ = sendError_ != 0;
    return true;
}

int PosixLink::SendBytes(const char* data, std::size_t length) {
    if (socket_ < 0) return ENOTCONN;
    // A message cut by a failed send leaves nothing the peer could read on.
    if (sendError_ == 0) sendError_ = SendAll(socket_, data, length, kSendStallSeconds * 1000);
    return sendError_;
}

void PosixLink::SleepMs(uint32_t milliseconds) {
    // What waits corked behind the messages at hand goes before the pause.
    const int uncork = 0;
    if (socket_ >= 0) ::setsockopt(socket_, IPPROTO_TCP, TCP_CORK, &uncork, sizeof uncork);
    // A signal ends the sleep, also one that came before it, so that the
    // loop that heeds it is not held.
    if (CaughtSignal() == 0) WaitFor(-1, 0, int(milliseconds));
}

}  // namespace quorbel::posix
