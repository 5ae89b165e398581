// The Servers a Client had secure sessions with, as its login policy asks
// for them: the settings' text (ConnectionValues::securePeers), each Server
// known by the name the user gave it (the PC name that resolved, or the
// address typed) and by the address it resolved to, each with its port. A
// new list goes to the listener, which keeps it at once.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/protocol/client_login.h"
#include "win/net/connection.h"

// "a.b.c.d" of an address of the settings.
std::string AddressText(const std::array<int32_t, 4>& address);

class SecurePeers : public quorbel::SecurePeerMemory {
public:
    // `target`: the Server as the user gave it, in UTF-8.
    SecurePeers(ConnectionValues& values, ConnectionListener& listener, std::string target)
        : values_(values), listener_(listener), target_(std::move(target)) {}
    std::string Load() override { return values_.securePeers; }
    void Store(const std::string& list) override;
    std::vector<std::string> Keys() override;
    // The Server as the question names it: in the user's own spelling, and the port.
    std::wstring Shown() const;

private:
    uint16_t Port() const { return static_cast<uint16_t>(values_.port & 0xFFFF); }
    ConnectionValues& values_;
    ConnectionListener& listener_;
    std::string target_;
};
