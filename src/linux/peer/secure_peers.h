// The Servers this user's Clients had secure sessions with, kept in
// $XDG_STATE_HOME/quorbel/secure-peers (or ~/.local/state/...), each known
// by the name it was given and by the address a connection reached, with
// its port.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/protocol/client_login.h"

namespace quorbel::peer {

class SecurePeersFile : public SecurePeerMemory {
public:
    // `host` as the user typed it.
    SecurePeersFile(std::string host, uint16_t port) : host_(std::move(host)), port_(port) {}
    // A connection to the Server is there: its address is a name of it too.
    void Reached(int socket);
    // The remembered list, at most what kMaxSecurePeers keys take; empty
    // when no file is there (or no folder for it is known).
    std::string Load() override;
    // Replaces the file in one step: a run cut meanwhile leaves the old one.
    void Store(const std::string& list) override;
    std::vector<std::string> Keys() override;

private:
    std::string host_, address_;
    uint16_t port_;
};

}  // namespace quorbel::peer
