// How a run of quorbel-peer ends: the exit codes a script can tell apart.
#pragma once

namespace quorbel::peer {

enum ExitCode : int {
    kExitDone = 0,
    kExitUsage = 2,
    kExitConnection = 3,  // refused, lost, no answer, or not a Quorbel peer
    kExitLogin = 4,
    kExitRefused = 5,     // "NAK" from the peer, or what it should have made is not there
    kExitLocal = 6,       // a local file or folder (standard output included)
};

// A run that a signal ended, as a shell reports it.
inline int SignalExitCode(int signal) { return 128 + signal; }

}  // namespace quorbel::peer
