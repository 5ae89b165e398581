// The connection to the peer, as the protocol sees it: the bytes it sends,
// the ends it asks for, the pauses it makes and the wire's code page. The
// front end's network code is behind it; what the user sees is the seat's
// (seat.h), the files the file store's (files.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/base/text.h"

namespace quorbel {

class PeerLink {
public:
    virtual ~PeerLink() = default;
    // One send of exactly `length` bytes to the peer. 0, or the socket error.
    virtual int SendBytes(const char* data, std::size_t length) = 0;
    // Closes the connection after this many milliseconds (the Client's answer to "CUT").
    virtual void CloseAfter(uint32_t milliseconds) = 0;
    // Ends this connection now (after too many wrong login pairs).
    virtual void EndConnection() = 0;
    // Holds this side's answer back (a wrong login pair, the Server's own listing).
    virtual void SleepMs(uint32_t milliseconds) = 0;
    // Text to and from the wire's ANSI code page.
    virtual const AnsiCodec& Codec() const = 0;
};

}  // namespace quorbel
