// One connection of the Server, served in a process of its own: its login
// through the gate of the listening process, then its peer, one log line
// per operation, until the peer leaves, a limit runs out or a signal ends
// it in order.
#pragma once

#include <string>

#include "linux/peer/options.h"
#include "linux/peer/setup.h"

namespace quorbel::peer {

struct ConnectionStart {
    int socket = -1;      // the accepted connection
    int channel = -1;     // to the listening process (server_channel.h)
    std::string address;  // the peer's, "192.168.1.20:51234"
    std::string salt;     // the Server's own salt of the stretch
};

// Serves the connection to its end: kExitDone once it ended in order.
int ServeConnection(const Options& options, const Setup& setup, const ConnectionStart& start);

}  // namespace quorbel::peer
