// The core's link on Linux: the socket of the connection at hand, the send
// limit for a peer that takes no bytes, and the code page of the wire.
#pragma once

#include <cerrno>
#include <cstdint>

#include "core/protocol/link.h"
#include "linux/host/codec.h"

namespace quorbel::posix {

class PosixLink : public PeerLink {
public:
    explicit PosixLink(const IconvCodec& codec) : codec_(codec) {}
    PosixLink(const PosixLink&) = delete;
    PosixLink& operator=(const PosixLink&) = delete;

    // A new connection (or none, -1): nothing of the last one is kept.
    void SetSocket(int fd);
    // The error of the send that failed on this connection (ETIMEDOUT for a
    // peer that took nothing for too long), or 0. Nothing more is sent on
    // it: a message may have been cut.
    int SendError() const { return sendError_; }
    // The core asked to end the connection (three wrong login pairs).
    bool EndAsked() const { return endAsked_; }
    // The peer said "CUT": the front end closes the connection.
    bool CutAsked() const { return cutAsked_; }
    // Whether a box of the core is still to be shown: one per failed
    // connection, since whatever the core tries on it next fails the same way.
    bool BoxDue();

    int SendBytes(const char* data, std::size_t length) override;
    void CloseAfter(uint32_t) override { cutAsked_ = true; }
    // Nothing more is sent; the front end closes the connection.
    void EndConnection() override {
        endAsked_ = true;
        if (sendError_ == 0) sendError_ = ECONNABORTED;
    }
    void SleepMs(uint32_t milliseconds) override;
    const AnsiCodec& Codec() const override { return codec_; }

private:
    const IconvCodec& codec_;
    int socket_ = -1;
    int sendError_ = 0;
    bool endAsked_ = false;
    bool cutAsked_ = false;
    bool boxShownAfterFailure_ = false;
};

}  // namespace quorbel::posix
