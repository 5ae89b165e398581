// What every wait of quorbel-peer heeds: the signals that end it, the tick
// that bounds it, and the receive step that waits for the peer's bytes.
#pragma once

#include <chrono>

#include "core/protocol/protocol.h"

namespace quorbel::peer {

// SIGINT, SIGTERM and SIGHUP end every wait, also one that begins just
// after the signal came, and are remembered; SIGPIPE is ignored (a closed
// connection shows as a failed send).
void InstallSignals();
// The signal that arrived last, or 0.
int PendingSignal();
void ForgetSignal();

// A wait for the peer's bytes ends after this long without any, so that
// the loops look at the clock, the signals and the listener; while bytes
// flow, one recv follows the other with no other call between them.
constexpr int kTickMs = 200;
// Every connection's recv waits that long at most.
void SetReceiveTick(int fd);

enum class Receipt { Data, Nothing, Closed, BadFrame, Interrupted };
// One recv (after a wait of up to `waitMs`, at most a tick, for the bytes)
// handed to the protocol: in the plain mode one recv is one message.
Receipt ReceiveOnce(Protocol& protocol, int fd, int waitMs = kTickMs);

// While it lives, the fast mode's sends of a socket wait to fill whole
// segments; they go when it ends (or a pause flushes them). A plain peer
// reads one message a receive: nothing of its is ever joined.
class Cork {
public:
    Cork(int fd, bool fast);
    ~Cork();
    Cork(const Cork&) = delete;
    Cork& operator=(const Cork&) = delete;

private:
    int fd_;
};

using Clock = std::chrono::steady_clock;
// Milliseconds from now until `deadline`, at least 0.
int MillisecondsUntil(Clock::time_point deadline);

}  // namespace quorbel::peer
