// IPv4 stream sockets for the peer, without any socket option the Windows
// program does not set either, and the waits that every loop of the peer
// uses: each has a bound and ends early for a signal.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorbel::posix {

// ---- Signals that end waits ----
// SIGINT, SIGTERM and SIGHUP interrupt blocked calls (no restart) and are
// remembered, the last one counting; a wait below also ends for a signal
// that came after its caller looked and before it began. SIGPIPE is
// ignored (a closed connection shows as a failed send).
void CatchSignals();
// The signal remembered, or 0.
int CaughtSignal();
void ForgetCaughtSignal();

enum class Ready { Yes, TimedOut, Signal };
// Waits up to `milliseconds` for `events` (poll's) on `fd`; with `fd` -1,
// for the time alone.
Ready WaitFor(int fd, short events, int milliseconds);
// The same over several descriptors, each with its revents set.
Ready WaitForAny(pollfd* fds, std::size_t count, int milliseconds);
// fork(), with the caught signals held meanwhile: the child gets a wake of
// its own (it would otherwise share its parent's, and each would take the
// other's signals), holding a signal caught before the fork. -1 on failure.
pid_t ForkWithOwnWake();

// ---- Sockets ----
// A listening socket on `address` (an IPv4 literal, "" for every address),
// whose accept does not wait; `port` 0 lets the system choose, and `port`
// then holds the chosen one. -1 with `error` set on failure.
int Listen(const std::string& address, uint16_t& port, std::string& error);
// A connected socket to `host` (a name or an IPv4 address), or -1 with the
// cause in `error`.
int Connect(const std::string& host, uint16_t port, std::string& error);
// The whole buffer, however many sends it takes: 0, or the errno value;
// ETIMEDOUT once the peer took no byte for `stallMs` (or the socket's send
// time-out, when shorter), or, after a signal, for a moment only, so that a
// peer that stopped reading holds no exit.
int SendAll(int fd, const char* data, std::size_t length, int stallMs);
// How long either side waits for a peer that takes no bytes before it gives
// the connection up.
constexpr int kSendStallSeconds = 30;
// "192.168.1.20:51234" of the other end.
std::string PeerAddress(int fd);

}  // namespace quorbel::posix
