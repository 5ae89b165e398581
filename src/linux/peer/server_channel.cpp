#include "linux/peer/server_channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "linux/host/net.h"
#include "linux/peer/waits.h"

namespace quorbel::peer {

namespace {

// The listening process answers at once; this much more covers a moment
// it is busy with others (starting a connection's process, say).
constexpr int64_t kAnswerMs = 2000;

// The record as it goes: both ends are this one program.
struct Record {
    uint8_t say, flag;
    uint32_t number;
    int64_t value;
};

}  // namespace

const char* NoTurnWord(NoTurnWhy why) {
    switch (why) {
        case NoTurnWhy::Busy: return "busy";
        case NoTurnWhy::Penalty: return "penalty";
        case NoTurnWhy::NoLogin: return "no-login";
        case NoTurnWhy::Closing: break;
    }
    return "closed";
}

bool Post(int channel, const ChannelMessage& m) {
    const Record r{uint8_t(m.say), m.flag, m.number, m.value};
    ssize_t n;
    do n = ::send(channel, &r, sizeof r, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    return n == ssize_t(sizeof r);
}

bool Take(int channel, ChannelMessage& m, bool& closed) {
    Record r{};
    ssize_t n;
    do n = ::recv(channel, &r, sizeof r, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    // Anything but a whole record (there is no other) ends the channel.
    closed = n != ssize_t(sizeof r);
    if (closed) return false;
    m = {Say(r.say), r.flag, r.number, r.value};
    return true;
}

bool ChannelGate::Ask(ChannelMessage question, int64_t waitMs, bool watchPeer, ChannelMessage& answer) {
    question.number = ++asked_;
    if (!Post(channel_, question)) return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (PendingSignal()) return false;
        bool closed = false;
        if (Take(channel_, answer, closed)) {
            // An answer to a question given up before is passed over.
            if (answer.number == question.number) return true;
            continue;
        }
        const int left = MillisecondsUntil(deadline);
        pollfd fds[2] = {{channel_, POLLIN, 0}, {watchPeer ? peer_ : -1, POLLRDHUP, 0}};
        if (closed || left <= 0 || posix::WaitForAny(fds, 2, left) == posix::Ready::Signal || fds[1].revents != 0)
            return false;
    }
}

bool ChannelGate::AwaitTurn() {
    refusal_.clear();
    const int64_t left = std::max<int64_t>(loginMsLeft_(), 0);
    ChannelMessage answer;
    if (!Ask({Say::Turn, 0, 0, left}, left + kAnswerMs, true, answer)) {
        // A turn given meanwhile is given back; one still to come, withdrawn.
        Ended(false);
        refusal_ = NoTurnWord(NoTurnWhy::Closing);
        return false;
    }
    if (answer.say != Say::Wait) {
        refusal_ = NoTurnWord(NoTurnWhy(answer.flag));
        return false;
    }
    // The wait runs to the end of the time to log in at most; one cut short
    // leaves the exchange unanswered, and it counts as failed.
    const int64_t wait = std::min(answer.value, std::max<int64_t>(loginMsLeft_(), 0));
    pollfd peer{peer_, POLLRDHUP, 0};
    const bool waited = PendingSignal() == 0 &&
                        (wait <= 0 || posix::WaitForAny(&peer, 1, int(wait)) == posix::Ready::TimedOut);
    if (waited && wait == answer.value) return true;
    Ended(false);
    refusal_ = NoTurnWord(waited ? NoTurnWhy::NoLogin : NoTurnWhy::Closing);
    return false;
}

void ChannelGate::Ended(bool loggedIn) { Post(channel_, {Say::Ended, uint8_t(loggedIn), 0, 0}); }

bool ChannelGate::TakeSeat() {
    ChannelMessage answer;
    return Ask({Say::Seat, 0, 0, 0}, kAnswerMs, false, answer) && answer.say == Say::Seated;
}

}  // namespace quorbel::peer
