// The connection as the protocol sees it on Windows: Winsock sends to the
// socket of the peer, the close and the end through the connection above,
// the thread's ANSI code page.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>

#include "core/protocol/link.h"
#include "win/net/connection.h"

class WinPeerLink : public quorbel::PeerLink {
public:
    // `target` gives the socket every message goes to; `quiet` tells when a
    // send must not be tried (the receive thread while the connection
    // closes); `end` ends the connection being served.
    WinPeerLink(ConnectionListener& listener, std::function<SOCKET()> target, std::function<bool()> quiet,
                std::function<void()> end);

    int SendBytes(const char* data, std::size_t length) override;
    void CloseAfter(uint32_t milliseconds) override { listener_.CloseAfter(milliseconds); }
    void EndConnection() override { end_(); }
    void SleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }
    const quorbel::AnsiCodec& Codec() const override;

private:
    ConnectionListener& listener_;
    std::function<SOCKET()> target_;
    std::function<bool()> quiet_;
    std::function<void()> end_;
};
