// The Servers this user's Clients had secure sessions with, kept in
// $XDG_STATE_HOME/quorbel/secure-peers (or ~/.local/state/...), each known
// by its address as typed, "host:port".
#pragma once

#include <string>
#include <utility>

#include "core/protocol/client_login.h"

namespace quorbel::peer {

class SecurePeersFile : public SecurePeerMemory {
public:
    explicit SecurePeersFile(std::string where) : where_(std::move(where)) {}
    // The remembered list, at most what kMaxSecurePeers addresses take;
    // empty when no file is there (or neither folder is known).
    std::string Load() override;
    // Replaces the file in one step: a run cut meanwhile leaves the old one.
    void Store(const std::string& list) override;
    std::vector<std::string> Keys() override { return {where_}; }

private:
    std::string where_;
};

}  // namespace quorbel::peer
