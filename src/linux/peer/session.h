// What both roles of quorbel-peer share: exit codes, signals, the receive
// step, and the lines on stderr.
#pragma once

#include <chrono>
#include <string>

#include "core/protocol/protocol.h"
#include "linux/peer/options.h"
#include "linux/host/codec.h"
#include "linux/host/path_map.h"

namespace quorbel::peer {

// Exit codes a script can tell apart.
enum ExitCode : int {
    kExitDone = 0,
    kExitUsage = 2,
    kExitConnection = 3,  // refused, lost, no answer, or not a Quorbel peer
    kExitLogin = 4,
    kExitRefused = 5,     // "NAK" from the peer, or what it should have made is not there
    kExitLocal = 6,       // a local file or folder (standard output included)
};

// SIGINT, SIGTERM and SIGHUP end every wait, also one that begins just
// after the signal came, and are remembered; SIGPIPE is ignored (a closed
// connection shows as a failed send).
void InstallSignals();
// The signal that arrived last, or 0.
int PendingSignal();
void ForgetSignal();
inline int SignalExitCode(int signal) { return 128 + signal; }

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

using Clock = std::chrono::steady_clock;
// Milliseconds from now until `deadline`, at least 0.
int MillisecondsUntil(Clock::time_point deadline);

// "quorbel-peer: " + text on stderr; Note only unless quiet.
void Error(const std::string& text);
void SetQuiet(bool quiet);
bool Quiet();
// With --verbose: a step of the connection or the login.
void SetVerbose(bool verbose);
void Detail(const std::string& text);
void Note(const std::string& text);

// What both roles set up from the options: the code page, the drives and
// the login pair (which the code page must hold, each half below 128 bytes).
struct Setup {
    posix::IconvCodec codec;
    posix::PathMap drives;
    u16 id, pw;
};
// False after telling why.
bool PrepareSetup(const Options& options, Setup& setup);

// Display forms of the core's texts and values.
std::string Utf8(u16view text);
// A peer's text for one line of a log or of ls: each control character
// (C0, DEL, C1) becomes "?", which no Windows name holds, so that nothing a
// peer sends drives the terminal or starts another line or field.
std::string Printable(u16view text);
const char* OutcomeName(Outcome outcome);

}  // namespace quorbel::peer
