// Between the listening process of the Server and the process of each
// connection: a socketpair of SOCK_SEQPACKET, one small message a record.
// The connection asks for its turn before it answers a login exchange and
// says when that exchange ended (the guard against guessing is the
// listening process's, over all connections); once its peer logged in, it
// asks for a seat among the peers served.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/protocol/guard.h"

namespace quorbel::peer {

enum class Say : uint8_t {
    // The connection's:
    Turn = 1,  // value: the milliseconds it has left to log in
    Ended,     // flag: logged in; also a turn asked for and given up
    Seat,
    // The listening process's answers, each with its question's number:
    Wait,      // value: the milliseconds to wait before the exchange is answered
    NoTurn,    // flag: why (NoTurnWhy); the connection ends
    Seated,
    NoSeat,
};

enum class NoTurnWhy : uint8_t {
    Busy,     // as many peers as may be are served
    Penalty,  // its source's penalty outlasts the time it has left to log in
    NoLogin,  // its time to log in ran out while another exchange of its source was under way
    Closing,  // the Server is ending
};
// The log's word for the disconnect that follows.
const char* NoTurnWord(NoTurnWhy why);

struct ChannelMessage {
    Say say{};
    uint8_t flag = 0;
    uint32_t number = 0;  // a question's, repeated by its answer
    int64_t value = 0;
};

// Neither waits: a channel whose other side does not read is of no use.
bool Post(int channel, const ChannelMessage& message);
// A message that arrived; false when none did, `closed` set once the other
// side is gone.
bool Take(int channel, ChannelMessage& message, bool& closed);

// A connection's gate, whose guard is the listening process's. Every wait
// ends at a signal and when the peer hangs up, and none outlasts the time
// the connection has to log in.
class ChannelGate : public LoginGate {
public:
    ChannelGate(int channel, int peer, std::function<int64_t()> loginMsLeft)
        : channel_(channel), peer_(peer), loginMsLeft_(std::move(loginMsLeft)) {}
    bool AwaitTurn() override;
    void Ended(bool loggedIn) override;
    // Whether its peer, logged in, may be served.
    bool TakeSeat();
    // Why the last AwaitTurn said no, as the log's word for the disconnect
    // that follows; "" when it did not.
    const std::string& Refusal() const { return refusal_; }

private:
    // Sends `question` and waits up to `waitMs` for its answer: false at a
    // signal, when the time ran out, the peer hung up (with `watchPeer`) or
    // the listening process is gone.
    bool Ask(ChannelMessage question, int64_t waitMs, bool watchPeer, ChannelMessage& answer);

    int channel_, peer_;
    std::function<int64_t()> loginMsLeft_;
    uint32_t asked_ = 0;
    std::string refusal_;
};

}  // namespace quorbel::peer
