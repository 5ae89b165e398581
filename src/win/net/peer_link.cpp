#include "win/net/peer_link.h"

#include "win/base/wintext.h"

WinPeerLink::WinPeerLink(ConnectionListener& listener, std::function<SOCKET()> target, std::function<bool()> quiet,
                         std::function<void()> end)
    : listener_(listener), target_(std::move(target)), quiet_(std::move(quiet)), end_(std::move(end)) {}

int WinPeerLink::SendBytes(const char* data, std::size_t length) {
    // The receive thread's last answers while the connection closes have
    // nowhere to go: they are dropped, and no failure is reported.
    if (quiet_()) return 0;
    const SOCKET target = target_();
    std::size_t sent = 0;
    // One call sends a whole message on a blocking socket; the loop only
    // guards against a short count so that a message is never cut.
    do {
        const int n = send(target, data + sent, static_cast<int>(length - sent), 0);
        if (n == SOCKET_ERROR) return WSAGetLastError();
        sent += static_cast<std::size_t>(n);
    } while (sent < length);
    return 0;
}

const quorbel::AnsiCodec& WinPeerLink::Codec() const { return AnsiCodecForThread(); }
